#include "ftp/ListingFields.h"
#include "ftp/ListingParser.h"

std::optional<RemoteEntry> ParseMlsdLine(QByteArrayView line) {
    // The facts never hold a blank: the first blank or tab ends them.
    qsizetype blank = 0;
    while (blank < line.size() && !ListingText::IsBlank(line[blank]))
        ++blank;
    if (blank + 1 >= line.size())
        return std::nullopt;
    RemoteEntry entry;
    entry.name = line.sliced(blank + 1).toByteArray();
    for (QByteArrayView fact : ListingText::Split(line.first(blank), ';')) {
        const QByteArray lower = ListingText::Lower(fact);
        if (lower.startsWith("size=")) {
            entry.size = ListingText::Number(QByteArrayView(lower).sliced(5));
        } else if (lower == "type=dir") {
            entry.isDirectory = true;
        } else if (lower == "type=cdir") {
            // Servers name the current directory "." or by its full path.
            entry = {".", true};
        } else if (lower == "type=pdir") {
            entry = {"..", true};
        } else if (lower.startsWith("type=os.unix=slink") || lower == "type=os.unix=symlink") {
            entry.kindKnown = false;
        }
    }
    return entry;
}
