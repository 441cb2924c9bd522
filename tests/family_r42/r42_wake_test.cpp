// Waking a reader that sleeps behind its Bluetooth module: 20 0E 00 01,
// asked again with longer waits while nothing at all comes back.
#include <gtest/gtest.h>

#include "sim/wire_table.h"

namespace {

using Row = WireRow<R42MemoryReader>;
using Call = WireCall<R42MemoryReader>;

int32_t wake(Call& c) { return c.d.WakeDevice(0); }

const Row kWake[] = {
    Row("awake_reader_answers_the_first_request", wake)
        .sends("20 0E 00 01", 200).answer("00 00 00")
        .gives(0),
    Row("sleeping_reader_is_asked_again_with_a_longer_wait", wake)
        .sends("20 0E 00 01", 200).fails()
        .sends("20 0E 00 01", 500).answer("00 00 00")
        .gives(0),
    Row("three_missing_replies_fail", wake)
        .sends("20 0E 00 01", 200).fails()
        .sends("20 0E 00 01", 500).fails()
        .sends("20 0E 00 01", 1000).fails()
        .gives(-1),
    Row("status_word_decides_and_is_kept", wake)
        .sends("20 0E 00 01", 200).answer("00 10 00")
        .gives(-2).status(0x10),
    Row("short_reply_is_an_answer_not_a_silence", wake)
        .sends("20 0E 00 01", 200).answer("00")
        .gives(-1),
};
WIRE_TABLE(R42Wake, R42MemoryReader, kWake);

}  // namespace
