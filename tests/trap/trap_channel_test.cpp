// The trap channel over a real FIFO: bytes on the wire, hostile input,
// idle rules, stalled and dying peers.
#include "testutil.h"

#include <atomic>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <string>
#include <thread>
#include <unistd.h>

namespace {

const char *const kPath = RAIDC_TRAP_PIPE_PATH;

std::string header(uint32_t w3, uint32_t count, uint32_t size, uint32_t msg = 0)
{
    char b[51];
    snprintf(b, sizeof b, "S%08x%08x%08x%08x%08x%08x", static_cast<unsigned>(getpid()), msg, w3, 0u, count, size);
    return std::string(b, 50);
}

// Bytes put straight into the FIFO, as a foreign producer would.
void raw(const std::string &bytes)
{
    int fd = open(kPath, O_RDWR | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    close(fd);
}

// Everything waiting in the FIFO.
std::string drain()
{
    int fd = open(kPath, O_RDWR | O_NONBLOCK);
    std::string out;
    char buf[4096];
    for (ssize_t n; (n = read(fd, buf, sizeof buf)) > 0;)
        out.append(buf, static_cast<size_t>(n));
    close(fd);
    return out;
}

using testutil::seconds;

class TrapPipe : public ::testing::Test {
protected:
    TrapEventPipe prod, cons;
    TrapEventData rec;

    void SetUp() override
    {
        testutil::makePathDirs();
        unlink(kPath);
        initTrapEventPipe(&prod, 0);
        initTrapEventPipe(&cons, 1);
        initTrapData(&rec);
        prod.record = &rec;
        ASSERT_EQ(openTrapEventPipe(&cons), RAIDC_TRAP_DONE);
    }
    void TearDown() override
    {
        RaidC_FreeTrapEventData(&cons);
        closeTrapEventPipe(&prod);
        closeTrapEventPipe(&cons);
    }
    void setStrings(std::initializer_list<const char *> s)
    {
        rec.stringCount = 0;
        for (const char *p : s)
            rec.strings[rec.stringCount++] = const_cast<char *>(p);
    }
    int get() { return RaidC_GetTrapEventData(&cons); }

    // A get on a message that never completes, its Master limit 1 to 2 s
    // away: sleeps until the limit rather than spinning, reports the
    // time-out and stays open.
    void expectIdleWithoutSpinning(const char *what)
    {
        clock_gettime(CLOCK_MONOTONIC_RAW, &cons.LastAcessTime);
        cons.LastAcessTime.tv_sec -= 24;
        double wall = seconds(), cpu = seconds(CLOCK_PROCESS_CPUTIME_ID);
        EXPECT_EQ(get(), RAIDC_TRAP_IDLE) << what;
        wall = seconds() - wall;
        cpu = seconds(CLOCK_PROCESS_CPUTIME_ID) - cpu;
        EXPECT_GT(wall, 0.9) << what;
        EXPECT_LT(cpu, 0.2) << what << ": " << cpu << " s CPU in " << wall << " s";
        EXPECT_EQ(cons.isOpen, 1) << what;
        openTrapEventPipe(&cons); // restarts the Master's clock
    }
};

TEST_F(TrapPipe, RecordsTravelByteExactAndComeBackInReceivedForm)
{
    rec.dataSize = 0;
    ASSERT_EQ(transmitTrapEvent(&prod), 0);
    EXPECT_EQ(drain(), header(0, 0, 0));

    rec.dataSize = 24;
    rec.word3 = 7;
    setStrings({"ab", "c"});
    prod.sendCounter = 0x7FFFFFFF;
    ASSERT_EQ(transmitTrapEvent(&prod), 0);
    EXPECT_EQ(drain(), header(7, 2, 24, 0x7FFFFFFF) + std::string("ab\0c\0", 5) + std::string(19, '\0'));

    ASSERT_EQ(transmitTrapEvent(&prod), 0);
    ASSERT_EQ(get(), 0);
    TrapEventData *r = cons.record;
    EXPECT_EQ(r->processId, static_cast<uint32_t>(getpid()));
    EXPECT_EQ(r->messageCount, 1u); // the counter went past 0
    EXPECT_EQ(r->dataSize, 0u);
    // The release takes exactly slots 0 and 1: a pointer in slot 2 stays ours
    // (freeing it ourselves below would be a double free otherwise).
    char *mine = strdup("mine");
    r->strings[2] = mine;
    EXPECT_EQ(RaidC_FreeTrapEventData(&cons), 0);
    EXPECT_EQ(cons.record, nullptr);
    free(mine);
}

TEST_F(TrapPipe, SendRefusesRecordsThatDoNotFitOrAreMissingAndWritesNothing)
{
    // An object without a record to send, fill or release.
    TrapEventPipe bare;
    initTrapEventPipe(&bare, 0);
    EXPECT_EQ(transmitTrapEvent(&bare), RAIDC_TRAP_NULL);
    EXPECT_EQ(receiveTrapEvent(&bare), RAIDC_TRAP_NULL);
    EXPECT_EQ(RaidC_FreeTrapEventData(&bare), RAIDC_TRAP_NULL);

    setStrings({"0123456789", "0123456789abcd"}); // 26 bytes for a 24-byte area
    EXPECT_EQ(transmitTrapEvent(&prod), RAIDC_TRAP_NO_MEMORY);
    setStrings({nullptr});
    EXPECT_EQ(transmitTrapEvent(&prod), RAIDC_TRAP_NULL);
    rec.dataSize = 0xFFFFFFF0u; // would wrap the message size
    EXPECT_EQ(transmitTrapEvent(&prod), RAIDC_TRAP_NO_MEMORY);
    // A count beyond the eight slots: refused before any slot is read (the
    // first is null, which would give another result).
    rec.dataSize = 24;
    rec.stringCount = 9;
    EXPECT_EQ(transmitTrapEvent(&prod), RAIDC_TRAP_NO_MEMORY);
    EXPECT_EQ(drain(), "");
}

TEST_F(TrapPipe, ReceiverResynchronisesAndRefusesHostileHeaders)
{
    const std::string good = header(5, 0, 0);
    raw("junkxxSyy" + good);                                              // garbage and a false "S" before a header
    raw(std::string("ab\0S\0cdSz\0", 10) + std::string(35, '\0') + good); // junk with NULs ending mid-read
    raw(std::string("S") + std::string(49, 'z') + good);                  // no "S" with hex behind it: dropped whole
    raw(header(1, 0, 0xFFFFFFF0u) + good);                                // absurd data area
    for (int i = 0; i < 4; ++i) {
        ASSERT_EQ(get(), 0) << i;
        EXPECT_EQ(cons.record->word3, 5u);
    }
    EXPECT_EQ(get(), RAIDC_TRAP_NO_MESSAGE);

    // Messages that cannot become events: more than eight strings, strings
    // without a data area, strings overrunning the area. Each is consumed,
    // nothing of it is delivered or leaked, and the next message is intact.
    raw(header(1, 9, 24) + std::string("a\0b\0c\0d\0e\0f\0g\0h\0i\0", 18) + std::string(6, '\0') + good);
    raw(header(1, 3, 0) + good);
    raw(header(1, 3, 4) + "abcd" + good);
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(get(), RAIDC_TRAP_NO_MEMORY) << i;
        EXPECT_EQ(cons.record->stringCount, 0u);
        for (int s = 0; s < RAIDC_TRAP_MAX_STRINGS; ++s)
            EXPECT_EQ(cons.record->strings[s], nullptr);
        ASSERT_EQ(get(), 0) << i;
        EXPECT_EQ(cons.record->word3, 5u);
    }
}

// Whatever part of a message its producer left behind before going away is
// never completed with a later message's bytes.
TEST_F(TrapPipe, StalledMessagesWaitWithoutSpinningAndAreDropped)
{
    ASSERT_EQ(get(), RAIDC_TRAP_NO_MESSAGE); // allocates the record
    const std::pair<const char *, std::string> stalls[] = {{"header stopping half-way", header(1, 0, 0).substr(0, 20)},
                                                           {"data area stopping half-way", header(1, 1, 24) + "half"}};
    for (const auto &[what, bytes] : stalls) {
        raw(bytes);
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ(receiveTrapEvent(&cons), RAIDC_TRAP_RECV_AGAIN) << what;
        expectIdleWithoutSpinning(what);
        rec.word3 = 9;
        setStrings({"whole"});
        ASSERT_EQ(transmitTrapEvent(&prod), 0);
        ASSERT_EQ(get(), 0) << what;
        EXPECT_EQ(cons.record->word3, 9u) << what;
        EXPECT_STREQ(cons.record->strings[0], "whole") << what;
        RaidC_FreeTrapEventData(&cons);
        ASSERT_EQ(get(), RAIDC_TRAP_NO_MESSAGE); // a record for the next round
    }

    // A listener's --timeout holds while a stray byte waits in the FIFO.
    raw("x");
    double wall = seconds();
    EXPECT_EQ(testutil::runCommand(testutil::toolPath("raidc") + " trap listen --count 1 --timeout 1"), 3);
    EXPECT_LT(seconds() - wall, 4.0);
}

TEST_F(TrapPipe, LargeEventsWaitForRoomAndTornOnesAreDropped)
{
    // A producer that calls again at once: each step waits for the reader.
    std::string big(199999, 'b');
    pid_t child = fork();
    if (child == 0) {
        rec.dataSize = 200000;
        setStrings({big.c_str()});
        int r;
        while ((r = transmitTrapEvent(&prod)) == RAIDC_TRAP_SEND_AGAIN) {
        }
        _exit(r);
    }
    int r = RAIDC_TRAP_NO_MESSAGE;
    ASSERT_TRUE(testutil::eventually([&] { return (r = get()) != RAIDC_TRAP_NO_MESSAGE; }));
    ASSERT_EQ(r, 0);
    EXPECT_EQ(cons.record->strings[0], big);
    EXPECT_EQ(testutil::waitChild(child), 0);
    RaidC_FreeTrapEventData(&cons);

    // Nobody drains: the message fills the FIFO and is kept, then given up
    // once it stalled past the Slave's limit.
    ASSERT_EQ(get(), RAIDC_TRAP_NO_MESSAGE);
    rec.dataSize = 70000;
    setStrings({"big"});
    ASSERT_EQ(transmitTrapEvent(&prod), RAIDC_TRAP_SEND_AGAIN);
    uint32_t written = prod.writeCount;
    double wall = seconds();
    EXPECT_EQ(transmitTrapEvent(&prod), RAIDC_TRAP_SEND_AGAIN);
    EXPECT_LT(seconds() - wall, 1.5);
    EXPECT_EQ(prod.writeCount, written);
    prod.LastAcessTime.tv_sec -= 21;
    EXPECT_EQ(transmitTrapEvent(&prod), RAIDC_TRAP_IO_FAILED);
    EXPECT_EQ(prod.writeBuffer, nullptr);
    // Full before the first byte: refused with nothing written.
    rec.dataSize = 24;
    setStrings({});
    EXPECT_EQ(transmitTrapEvent(&prod), RAIDC_TRAP_IO_FAILED);

    // The reader drops the torn message and takes the next one whole.
    expectIdleWithoutSpinning("torn message");
    rec.word3 = 4;
    ASSERT_EQ(transmitTrapEvent(&prod), 0);
    ASSERT_EQ(get(), 0);
    EXPECT_EQ(cons.record->word3, 4u);
    EXPECT_EQ(cons.record->stringCount, 0u); // a data area without strings
    EXPECT_EQ(cons.record->strings[0], nullptr);
    EXPECT_EQ(get(), RAIDC_TRAP_NO_MESSAGE);
}

TEST_F(TrapPipe, FifoOwnedBySomeoneElseIsRefused)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "only root can give the FIFO to another user";
    closeTrapEventPipe(&cons);
    ASSERT_EQ(chown(kPath, 65534, 65534), 0);
    EXPECT_EQ(openTrapEventPipe(&cons), RAIDC_TRAP_IO_FAILED);
    std::string out;
    EXPECT_NE(testutil::runCommand(testutil::toolPath("raidc") + " trap send 1 2 2>&1 >/dev/null", &out), 0);
    size_t first = out.find("Error opening named pipe " + std::string(kPath));
    EXPECT_NE(first, std::string::npos) << out;
    EXPECT_EQ(out.find("Error opening named pipe", first + 1), std::string::npos) << out;

    ASSERT_EQ(chown(kPath, 0, 0), 0);
    EXPECT_EQ(openTrapEventPipe(&cons), 0);
    EXPECT_EQ(transmitTrapEvent(&prod), 0);
    EXPECT_EQ(get(), 0);
}

TEST_F(TrapPipe, IdleLimitsCloseAndReopen)
{
    ASSERT_EQ(get(), RAIDC_TRAP_NO_MESSAGE); // allocates the record, which counts as activity
    cons.LastAcessTime.tv_sec -= 24;         // within the limit
    EXPECT_EQ(get(), RAIDC_TRAP_NO_MESSAGE);
    cons.LastAcessTime.tv_sec -= 2;
    EXPECT_EQ(get(), RAIDC_TRAP_IDLE);

    // The producer, a Slave, as a consumer.
    ASSERT_EQ(RaidC_GetTrapEventData(&prod), RAIDC_TRAP_NO_MESSAGE);
    prod.LastAcessTime.tv_sec -= 21;
    EXPECT_EQ(RaidC_GetTrapEventData(&prod), RAIDC_TRAP_IDLE);
    EXPECT_EQ(prod.isOpen, 0);
    EXPECT_EQ(RaidC_GetTrapEventData(&prod), RAIDC_TRAP_NO_MESSAGE);

    // Sending: a Slave reopens and sends, a Master gives up once.
    ASSERT_EQ(transmitTrapEvent(&prod), 0);
    prod.LastAcessTime.tv_sec -= 21;
    EXPECT_EQ(transmitTrapEvent(&prod), 0);
    prod.isMaster = 1;
    prod.LastAcessTime.tv_sec -= 26;
    EXPECT_EQ(transmitTrapEvent(&prod), RAIDC_TRAP_IDLE);
    EXPECT_EQ(prod.isOpen, 0);
    EXPECT_EQ(transmitTrapEvent(&prod), 0);
    EXPECT_EQ(drain().size(), 3 * 74u);
}

TEST_F(TrapPipe, PeersComingAndGoing)
{
    // The consumer is not there yet (nor the FIFO): the event waits for it.
    closeTrapEventPipe(&cons);
    unlink(kPath);
    ASSERT_EQ(transmitTrapEvent(&prod), 0);
    ASSERT_EQ(get(), 0);

    // The reader went away, even from a write-only descriptor: sending must
    // not kill the process with SIGPIPE.
    closeTrapEventPipe(&cons);
    closeTrapEventPipe(&prod);
    pid_t child = fork();
    if (child == 0) {
        signal(SIGPIPE, SIG_DFL);
        int reader = open(kPath, O_RDONLY | O_NONBLOCK);
        prod.openFlags = O_WRONLY | O_NONBLOCK;
        int opened = openTrapEventPipe(&prod);
        close(reader);
        _exit(opened == 0 && transmitTrapEvent(&prod) == 0 ? 0 : 1);
    }
    EXPECT_EQ(testutil::waitChild(child), 0);

    // Something other than a FIFO under the pipe's name is never used.
    unlink(kPath);
    std::ofstream(kPath) << "keep";
    EXPECT_EQ(transmitTrapEvent(&prod), RAIDC_TRAP_IO_FAILED);
    EXPECT_EQ(get(), RAIDC_TRAP_IO_FAILED);
    EXPECT_EQ(testutil::readFile(kPath), "keep");
    unlink(kPath);
}

#ifdef RAIDC_FAULT_INJECTION
// Each allocation of a send and a get failing in turn: a clear result, no
// half event, no leak, and the next event arrives intact.
TEST_F(TrapPipe, AllocationFailuresLoseNothing)
{
    setStrings({"ab", "c"});
    int sent = 0, got = 0;
    auto run = [&] {
        sent = transmitTrapEvent(&prod);
        got = get();
    };
    auto check = [&](long nth, bool faulted) {
        SCOPED_TRACE(nth);
        if (faulted) {
            EXPECT_TRUE(sent == 0 || sent == RAIDC_TRAP_NO_MEMORY) << sent;
            EXPECT_TRUE(got == RAIDC_TRAP_NO_MESSAGE || got == RAIDC_TRAP_NO_MEMORY || got == RAIDC_TRAP_IO_FAILED)
                << got;
            EXPECT_TRUE(!cons.record || !cons.record->strings[0]);
            drain();
            ASSERT_EQ(transmitTrapEvent(&prod), 0);
            ASSERT_EQ(get(), 0);
        } else {
            EXPECT_EQ(sent, 0);
            EXPECT_EQ(got, 0);
        }
        EXPECT_STREQ(cons.record->strings[1], "c");
        RaidC_FreeTrapEventData(&cons);
    };
    EXPECT_EQ(testutil::forEachFaultPoint(run, check), 6); // frame, record, header, data area, two strings
}
#endif

TEST_F(TrapPipe, TwoThreadsShareOneConsumer)
{
    const unsigned kEvents = 200;
    for (unsigned i = 0; i < kEvents; ++i)
        ASSERT_EQ(transmitTrapEvent(&prod), 0);
    std::atomic<unsigned> got{0};
    auto consume = [&] {
        int r;
        while ((r = get()) == 0)
            got++;
        EXPECT_EQ(r, RAIDC_TRAP_NO_MESSAGE);
    };
    std::thread a(consume), b(consume);
    a.join();
    b.join();
    EXPECT_EQ(got.load(), kEvents);
    EXPECT_EQ(cons.receiveCounter, kEvents);
}

} // namespace
