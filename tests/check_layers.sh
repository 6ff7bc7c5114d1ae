#!/usr/bin/env bash
# The layers' include rules: listing/ includes neither libcurl nor Qt's network or widget
# headers, ftp/ no widget header, and nothing the window includes (ui/, app/, and the public
# headers they reach) brings in libcurl.
# Usage: check_layers.sh SOURCE_DIR QTWIDGETS_INCLUDE_DIR
set -u
src=$1 widgets=$2
status=0

includes() { sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*[<"]\([^>"]*\)[>"].*/\1/p' "$1"; }
is_widget_header() { [[ $1 == QtWidgets/* || -e $widgets/$1 ]]; }

while IFS= read -r file; do
    for header in $(includes "$file"); do
        if is_widget_header "$header"; then
            echo "$file includes the widget header $header"
            status=1
        fi
        if [[ $file == "$src"/listing/* && ( $header == curl/* || $header == QtNetwork/* ||
              $header == QSsl* || $header == QTcp* || $header == QHostAddress ) ]]; then
            echo "$file includes $header, which the listing library must not need"
            status=1
        fi
    done
done < <(find "$src/listing" "$src/ftp" -name '*.h' -o -name '*.cpp')

# The file a quoted include names: beside the includer, or in a library's include folder.
resolve() {
    local from=$1 header=$2 dir
    for dir in "$(dirname "$from")" "$src"/*/include; do
        [[ -f $dir/$header ]] && { echo "$dir/$header"; return; }
    done
}

# Follows the project's own headers from a ui/ or app/ file and reports any libcurl header.
declare -A seen
reaches_curl() {
    local file=$1 header found
    [[ -n ${seen[$file]:-} ]] && return 1
    seen[$file]=1
    for header in $(includes "$file"); do
        if [[ $header == curl/* ]]; then
            echo "$file includes $header"
            return 0
        fi
        found=$(resolve "$file" "$header")
        if [[ -n $found ]] && reaches_curl "$found"; then
            return 0
        fi
    done
    return 1
}
while IFS= read -r file; do
    seen=()
    if reaches_curl "$file"; then
        echo "  (reached from $file)"
        status=1
    fi
done < <(find "$src/ui" "$src/app" -name '*.h' -o -name '*.cpp')

[ $status -eq 0 ] && echo "layers keep their include rules"
exit $status
