#include "ftp/ListingParser.h"

#include <array>
#include <cstring>

namespace {

struct Token {
    qsizetype begin;
    qsizetype end;
};

std::vector<Token> Tokenize(QByteArrayView line, size_t maxTokens) {
    std::vector<Token> tokens;
    qsizetype i = 0;
    while (i < line.size() && tokens.size() < maxTokens) {
        while (i < line.size() && line[i] == ' ')
            ++i;
        if (i == line.size())
            break;
        const qsizetype begin = i;
        while (i < line.size() && line[i] != ' ')
            ++i;
        tokens.push_back({begin, i});
    }
    return tokens;
}

bool AllDigits(QByteArrayView text) {
    if (text.isEmpty())
        return false;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
    }
    return true;
}

bool IsMonth(QByteArrayView text) {
    static const std::array<const char*, 12> kMonths = {"jan", "feb", "mar", "apr", "may", "jun",
                                                        "jul", "aug", "sep", "oct", "nov", "dec"};
    if (text.size() != 3)
        return false;
    const QByteArray lower = text.toByteArray().toLower();
    for (const char* month : kMonths) {
        if (lower == month)
            return true;
    }
    return false;
}

bool IsClock(QByteArrayView text) {
    const qsizetype colon = text.indexOf(':');
    return colon > 0 && AllDigits(text.first(colon)) && AllDigits(text.sliced(colon + 1));
}

bool IsDay(QByteArrayView text) {
    return text.size() <= 2 && AllDigits(text);
}

bool IsYear(QByteArrayView text) {
    return text.size() == 4 && AllDigits(text);
}

// "2024-01-31"
bool IsIsoDate(QByteArrayView text) {
    return text.size() == 10 && text[4] == '-' && text[7] == '-' && AllDigits(text.first(4)) &&
           AllDigits(text.sliced(5, 2)) && AllDigits(text.sliced(8, 2));
}

qint64 SizeOf(QByteArrayView text) {
    return AllDigits(text) && text.size() < 19 ? text.toLongLong() : -1;
}

// The date columns of an "ls -l" line: where they end (-1 when there are none) and the size
// column before them.
struct UnixDate {
    qsizetype end = -1;
    qint64 size = -1;
};

UnixDate FindUnixDate(QByteArrayView line, const std::vector<Token>& tokens) {
    auto text = [&](size_t i) {
        return line.sliced(tokens[i].begin, tokens[i].end - tokens[i].begin);
    };
    for (size_t i = 2; i + 1 < tokens.size(); ++i) {
        if (i + 2 < tokens.size() && IsMonth(text(i)) && IsDay(text(i + 1)) &&
            (IsClock(text(i + 2)) || IsYear(text(i + 2))))
            return {tokens[i + 2].end, SizeOf(text(i - 1))};
        if (IsIsoDate(text(i)) && IsClock(text(i + 1)))
            return {tokens[i + 1].end, SizeOf(text(i - 1))};
    }
    return {};
}

std::optional<RemoteEntry> ParseUnixLine(QByteArrayView line) {
    static const char kTypes[] = "-dlbcpsD";
    if (line.size() < 10 || std::strchr(kTypes, line[0]) == nullptr)
        return std::nullopt;
    // Permissions, links, owner, group, size, month, day, time: the name follows.
    const std::vector<Token> tokens = Tokenize(line, 9);
    if (tokens.empty() || tokens[0].end < 10)
        return std::nullopt;
    const UnixDate date = FindUnixDate(line, tokens);
    // One blank separates the date from the name; any further ones belong to the name.
    if (date.end < 0 || date.end + 1 >= line.size())
        return std::nullopt;
    RemoteEntry entry;
    entry.size = date.size;
    QByteArrayView name = line.sliced(date.end + 1);
    entry.isDirectory = line[0] == 'd';
    if (line[0] == 'l') {
        const qsizetype arrow = name.indexOf(QByteArrayView(" -> "));
        if (arrow >= 0) {
            // A link is a directory only where the listing says so by a trailing slash.
            entry.isDirectory = name.endsWith('/');
            name = name.first(arrow);
        }
    }
    if (name.isEmpty())
        return std::nullopt;
    entry.name = name.toByteArray();
    return entry;
}

bool IsDosDate(QByteArrayView text) {
    return (text.size() == 8 || text.size() == 10) && AllDigits(text.first(2)) &&
           (text[2] == '-' || text[2] == '/');
}

bool IsDosTime(QByteArrayView text) {
    QByteArrayView clock = text;
    if (clock.endsWith("AM") || clock.endsWith("PM") || clock.endsWith("am") ||
        clock.endsWith("pm"))
        clock.chop(2);
    return IsClock(clock);
}

// "01-31-24  10:00AM       <DIR>          name" or "... 1234 name"
std::optional<RemoteEntry> ParseDosLine(QByteArrayView line) {
    const std::vector<Token> tokens = Tokenize(line, 4);
    if (tokens.size() < 4)
        return std::nullopt;
    auto text = [&](size_t i) {
        return line.sliced(tokens[i].begin, tokens[i].end - tokens[i].begin);
    };
    if (!IsDosDate(text(0)) || !IsDosTime(text(1)))
        return std::nullopt;
    const bool isDirectory = text(2) == QByteArrayView("<DIR>");
    if (!isDirectory && !AllDigits(text(2)))
        return std::nullopt;
    return RemoteEntry{line.sliced(tokens[3].begin).toByteArray(), isDirectory,
                       isDirectory ? -1 : SizeOf(text(2))};
}

} // namespace

std::optional<RemoteEntry> ParseMlsdLine(QByteArrayView line) {
    const qsizetype space = line.indexOf(' ');
    if (space < 0 || space + 1 == line.size())
        return std::nullopt;
    RemoteEntry entry;
    entry.name = line.sliced(space + 1).toByteArray();
    const QByteArrayView facts = line.first(space);
    qsizetype begin = 0;
    while (begin < facts.size()) {
        qsizetype end = facts.indexOf(';', begin);
        if (end < 0)
            end = facts.size();
        const QByteArray fact = facts.sliced(begin, end - begin).toByteArray().toLower();
        if (fact.startsWith("size=")) {
            entry.size = SizeOf(QByteArrayView(fact).sliced(5));
        } else if (fact == "type=dir") {
            entry.isDirectory = true;
        } else if (fact == "type=cdir") {
            // Servers name the current directory "." or by its full path.
            entry = {".", true};
        } else if (fact == "type=pdir") {
            entry = {"..", true};
        }
        begin = end + 1;
    }
    return entry;
}

std::optional<RemoteEntry> ParseListLine(QByteArrayView line) {
    if (auto entry = ParseUnixLine(line))
        return entry;
    return ParseDosLine(line);
}

void ListingParser::Feed(const char* data, size_t size) {
    const char* end = data + size;
    while (data < end) {
        const char* newline = static_cast<const char*>(std::memchr(data, '\n', end - data));
        const char* stop = newline ? newline : end;
        if (!m_lineTooLong) {
            if (m_line.size() + (stop - data) > kMaxLineLength) {
                m_lineTooLong = true;
                m_line.clear();
            } else {
                m_line.append(data, stop - data);
            }
        }
        if (!newline)
            return;
        ParseLine();
        data = newline + 1;
    }
}

void ListingParser::Finish() {
    if (!m_line.isEmpty())
        ParseLine();
}

void ListingParser::ParseLine() {
    if (!m_lineTooLong) {
        if (m_line.endsWith('\r'))
            m_line.chop(1);
        auto entry =
            m_format == ListingFormat::Mlsd ? ParseMlsdLine(m_line) : ParseListLine(m_line);
        if (entry)
            m_entries.push_back(std::move(*entry));
    }
    m_line.clear();
    m_lineTooLong = false;
}
