// Listing parsers, name decoding and the server field must take any bytes.
#include "listing/ListingParser.h"
#include "listing/RemoteName.h"
#include "listing/ServerAddress.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    // The first byte picks the format and how the bytes arrive.
    const auto format = (data[0] & 1)   ? ListingFormat::Mlsd
                        : (data[0] & 2) ? ListingFormat::Names
                                        : ListingFormat::List;
    const size_t chunk = 1 + (data[0] >> 2);
    const char* text = reinterpret_cast<const char*>(data + 1);
    const size_t length = size - 1;

    ListingParser parser(format);
    for (size_t i = 0; i < length; i += chunk)
        parser.Feed(text + i, std::min(chunk, length - i));
    parser.Finish();
    for (const RemoteEntry& entry : parser.Entries()) {
        if (entry.name.isEmpty() || entry.name.contains('\n') ||
            (format == ListingFormat::Names && entry.name.contains('/')))
            std::abort();
        RemoteName::Display(entry.name);
    }
    (void)ServerAddress::Parse(QString::fromUtf8(text, static_cast<qsizetype>(length)), 21);
    return 0;
}
