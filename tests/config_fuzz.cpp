// Fuzz target for the config.txt reader. Besides crashes and reads past the
// data (caught by the sanitizers), it checks properties every reading must
// have, and aborts when one fails.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "config.h"

namespace {

void require(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "property failed: %s\n", what);
        std::abort();
    }
}

bool same(const ConfigRead& a, const ConfigRead& b) {
    return a.values.pager == b.values.pager && a.values.table == b.values.table &&
           a.values.pager_to_table == b.values.pager_to_table && a.values_read == b.values_read &&
           a.opened == b.opened;
}

ConfigRead parse_copy(const std::uint8_t* data, std::size_t size) {
    // An exact-size heap copy, so that ASan sees any read past its end.
    std::unique_ptr<unsigned char[]> copy(new unsigned char[size]);
    if (size > 0) {
        std::memcpy(copy.get(), data, size);
    }
    return parse_config(copy.get(), size);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const ConfigRead read = parse_copy(data, size);
    require(read.opened, "opened");
    require(read.values_read >= 0 && read.values_read <= 3, "values_read in 0..3");

    const std::int32_t values[3] = {read.values.pager, read.values.table,
                                    read.values.pager_to_table};
    for (int i = read.values_read; i < 3; ++i) {
        require(values[i] == 0, "a value not read holds 0");
    }

    require(same(read, parse_copy(data, size)), "same bytes, same result");

    // Nothing from a 1A byte on is read.
    const void* eof = std::memchr(data, 0x1A, size);
    if (eof != nullptr) {
        const std::size_t before =
            static_cast<std::size_t>(static_cast<const std::uint8_t*>(eof) - data);
        require(same(read, parse_copy(data, before)), "1A ends the text");
    }

    // Values written back in decimal read the same.
    if (read.values_read == 3) {
        char text[64];
        const int length = std::snprintf(text, sizeof text, "%d %d %d", static_cast<int>(values[0]),
                                         static_cast<int>(values[1]), static_cast<int>(values[2]));
        const ConfigRead again = parse_copy(reinterpret_cast<const std::uint8_t*>(text),
                                            static_cast<std::size_t>(length));
        require(same(read, again), "decimal round trip");
    }

    // The checks pass exactly when all three were read and lie in range.
    const bool in_range = read.values_read == 3 && values[0] >= 0 && values[0] <= kPagerMax &&
                          values[1] >= 0 && values[1] <= kTableMax && values[2] >= 0 &&
                          values[2] <= kPagerToTableMax;
    require(config_error_message(read).empty() == in_range, "checks agree with the limits");
    return 0;
}
