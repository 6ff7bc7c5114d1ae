#include "ListingFamilies.h"
#include "ListingFields.h"
#include "listing/ListingParser.h"

namespace {

// Where the facts end: they never hold a blank, so the first blank or tab ends them.
qsizetype FactsEnd(QByteArrayView line) {
    qsizetype blank = 0;
    while (blank < line.size() && !ListingText::IsBlank(line[blank]))
        ++blank;
    return blank;
}

} // namespace

std::optional<RemoteEntry> ParseMlsdLine(QByteArrayView line) {
    const qsizetype blank = FactsEnd(line);
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

namespace ListingFamilies {

// "Type=dir;Modify=20240101120000; Projekte": some servers answer LIST as they would MLSD.
std::optional<RemoteEntry> Facts(QByteArrayView line) {
    bool typed = false;
    for (QByteArrayView fact : ListingText::Split(line.first(FactsEnd(line)), ';')) {
        if (!fact.isEmpty() && fact.indexOf('=') < 1)
            return std::nullopt;
        typed = typed || ListingText::Lower(fact).startsWith("type=");
    }
    return typed ? ParseMlsdLine(line) : std::nullopt;
}

} // namespace ListingFamilies
