#!/usr/bin/env bash
# The layers' include rules: ftp/ never includes a Qt Widgets header, and nothing the window
# includes (ui/, app/, and the ftp/ headers they reach) brings in libcurl.
# Usage: check_layers.sh SOURCE_DIR QTWIDGETS_INCLUDE_DIR
set -u
src=$1 widgets=$2
status=0

includes() { sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*[<"]\([^>"]*\)[>"].*/\1/p' "$1"; }

for file in "$src"/ftp/*; do
    for header in $(includes "$file"); do
        if [[ $header == QtWidgets/* || -e $widgets/$header ]]; then
            echo "$file includes the widget header $header"
            status=1
        fi
    done
done

# Follows the project's own headers from a ui/ or app/ file and reports any libcurl header.
declare -A seen
reaches_curl() {
    local file=$1 header
    [[ -n ${seen[$file]:-} ]] && return 1
    seen[$file]=1
    for header in $(includes "$file"); do
        if [[ $header == curl/* ]]; then
            echo "$file includes $header"
            return 0
        fi
        if [[ -f $src/$header ]] && reaches_curl "$src/$header"; then
            return 0
        fi
    done
    return 1
}
for file in "$src"/ui/* "$src"/app/*; do
    seen=()
    if reaches_curl "$file"; then
        echo "  (reached from $file)"
        status=1
    fi
done

[ $status -eq 0 ] && echo "layers keep their include rules"
exit $status
