// The command socket over the real UNIX socket path: a Slave object of the
// library against a raw peer descriptor that writes and reads exact bytes.
#include "peers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fcntl.h>

namespace {

using cmdtest::format;
using cmdtest::header;
using testutil::readable;

// Each case writes a transcript: every call with its result and the state it
// left the object in, and the bytes the peer took; compared with
// golden/link-<case>.txt, this process's id masked.
class Link : public ::testing::Test {
protected:
    RaidCCmdSocket server{}, client{};
    int peer = -1; // the accepted end, blocking, used raw
    std::string log;

    void SetUp() override
    {
        testutil::makePathDirs();
        signal(SIGPIPE, SIG_DFL); // a write to a dead peer must not need this
        ASSERT_EQ(initData_RaidCCmdSocket(&server, 1), 0);
        ASSERT_EQ(listen_RaidCCmdSocket(&server), 0);
        ASSERT_EQ(initData_RaidCCmdSocket(&client, 0), 0);
        ASSERT_EQ(connect_RaidCCmdSocket(&client), 0);
        peer = acceptPeer();
    }

    void TearDown() override
    {
        const char *name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        const std::string pid = format("%08x", getpid()); // this process's, in the messages it sends
        for (size_t at; (at = log.find(pid)) != std::string::npos;)
            log.replace(at, pid.size(), "<pid>");
        testutil::expectGolden(std::string("cmd/golden/link-") + name + ".txt", log);
        close_RaidCCmdSocket(&client);
        free(client.data);
        if (peer >= 0)
            close(peer);
        close_RaidCCmdSocket(&server);
    }

    int acceptPeer()
    {
        EXPECT_TRUE(readable(server.SocketFd, 2000));
        EXPECT_EQ(accept_RaidCCmdSocket(&server), 0);
        return server.AcceptedSocket;
    }

    // A call's result and the state of the object it was made on.
    void note(const char *call, int32_t result, const RaidCCmdSocket &o)
    {
        const RaidCCmdHeader &h = o.header;
        log += format("%s = %d: header %08x %u %u %u %u %u %u %u %u %u data %s", call, result, h.processId,
                      h.messageCount, h.command, h.arg1, h.arg2, h.arg3, h.arg4, h.arg5, h.value, h.dataLength,
                      o.data ? ("\"" + std::string(o.data) + "\"").c_str() : "null");
        log += format(" sent %u received %u readCount %u connected %d readBuffer %s writeBuffer %s\n", o.sendCounter,
                      o.receiveCounter, o.readCount, o.isConnected, o.readBuffer ? "set" : "null",
                      o.writeBuffer ? "set" : "null");
    }
    void note(const char *call, int32_t result) { note(call, result, client); }

    void put(const std::string &bytes) { ASSERT_EQ(write(peer, bytes.data(), bytes.size()), (ssize_t)bytes.size()); }

    // The next n bytes from the peer, fewer if it hangs up first.
    std::string take(size_t n)
    {
        std::string s(n, '\0');
        s.resize(static_cast<size_t>(std::max<ssize_t>(0, recv(peer, s.data(), n, MSG_WAITALL))));
        return s;
    }
    // The same into the transcript.
    void took(size_t n) { log += "peer took " + take(n) + "\n"; }

    // Receive steps until the message is complete or something else happens.
    int32_t receive()
    {
        int32_t r = RAIDC_SOCK_RECV_AGAIN;
        testutil::eventually([&] { return (r = receiveData_RaidCCmdSocket(&client)) != RAIDC_SOCK_RECV_AGAIN; });
        return r;
    }
};

// Only the steps that complete a message are noted; every other answers 1.
TEST_F(Link, AssemblesMessagesTrickledByteByByte)
{
    const std::string msg = header(2, 9, 4) + std::string("abc\0", 4) + header(3, 7, 0);
    for (size_t i = 0; i < msg.size(); ++i) {
        put(msg.substr(i, 1));
        const int32_t r = receiveData_RaidCCmdSocket(&client);
        if (r != RAIDC_SOCK_RECV_AGAIN)
            note(format("receive byte %zu", i).c_str(), r);
        if (i == 84)
            free(client.data); // the second message has no payload: data goes back to null
    }
}

// The message count goes from 0x7FFFFFFF past 0; the length takes in the NUL.
TEST_F(Link, PartialWritesResumeWhereTheyStopped)
{
    client.header = {0x1234, 0, 4, 1, 2, 3, 4, 5, 0xABCDEF12, 0};
    client.sendCounter = 0x7FFFFFFF;
    int small = 4096;
    setsockopt(client.SocketFd, SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
    setsockopt(peer, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    std::string text(300000, 'x'), got;
    text.back() = 'z';
    client.data = text.data();
    int again = 0;
    int32_t r;
    for (char buf[65536]; (r = sendData_RaidCCmdSocket(&client)) == RAIDC_SOCK_SEND_AGAIN; ++again)
        got.append(buf, static_cast<size_t>(std::max<ssize_t>(0, recv(peer, buf, sizeof buf, MSG_DONTWAIT))));
    client.data = nullptr;
    note("send 300000 bytes", r);
    EXPECT_GT(again, 2);
    got += take(82 + text.size() - got.size()); // all of it is on its way
    log += "peer took " + got.substr(0, 81) + " and the text\n";
    EXPECT_EQ(got.substr(81), text + '\0');
}

TEST_F(Link, SkipsJunkAndRefusesHeadersInPayloadsAndAbsurdLengths)
{
    put(std::string("junk\0with NUL S", 15) + header(2, 1, 0));
    note("receive after junk", receive());
    put(std::string(81, '#')); // a header's worth of junk is dropped
    readable(client.SocketFd, 500);
    note("receive step on 81 bytes of junk", receiveData_RaidCCmdSocket(&client));
    put(header(2, 2, 0));
    note("receive", receive());
    // The dropped message does not count.
    put(header(2, 1, 6) + std::string("S0abc\0", 6) + header(2, 5, 0));
    note("receive a header in a payload", receive());
    note("receive", receive());
    // Under AddressSanitizer a blind 4 GiB allocation would abort the test.
    put(header(2, 1, 0xFFFFFFFF) + "abc");
    note("receive a length of 4 GiB", receive());
}

// The read alone does not close; the write does.
TEST_F(Link, PeerGoneMidMessageOrBeforeAWriteGives10WithoutSignal)
{
    put(header(2, 1, 0).substr(0, 40));
    close(peer);
    peer = -1;
    note("receive half a header, the peer gone", receive());
    ASSERT_EQ(close_RaidCCmdSocket(&client), 0);
    ASSERT_EQ(connect_RaidCCmdSocket(&client), 0);
    peer = acceptPeer();
    close(peer);
    peer = -1;
    note("send, the peer gone", sendData_RaidCCmdSocket(&client));
    // A read that fails for good (here the descriptor became a folder's) is
    // a lost connection, not a reason to try again.
    ASSERT_EQ(connect_RaidCCmdSocket(&client), 0);
    peer = acceptPeer();
    const int folder = open("/", O_RDONLY | O_DIRECTORY);
    dup2(folder, client.SocketFd);
    close(folder);
    note("receive step, the descriptor a folder's", receiveData_RaidCCmdSocket(&client));
}

TEST_F(Link, PastTheIdleLimitAMasterGets8AndKeepsItsSocketAndASlaveReconnects)
{
    RaidCCmdSocket m{};
    initData_RaidCCmdSocket(&m, 1);
    // An object never used closes cleanly.
    EXPECT_EQ(close_RaidCCmdSocket(&m), 0);
    EXPECT_EQ(m.SocketFd, -1);
    m.SocketFd = peer;
    m.isConnected = 1;
    m.LastAcessTime.tv_sec -= 61;
    note("master send after 61 s idle", sendData_RaidCCmdSocket(&m), m);
    note("master receive step", receiveData_RaidCCmdSocket(&m), m);
    note("master send", sendData_RaidCCmdSocket(&m), m);
    EXPECT_GE(fcntl(peer, F_GETFD), 0);

    note("send", sendData_RaidCCmdSocket(&client));
    took(81);
    client.LastAcessTime.tv_sec -= 41;
    note("send after 41 s idle", sendData_RaidCCmdSocket(&client));
    EXPECT_EQ(take(1), ""); // the old connection was closed
    EXPECT_EQ(close_RaidCCmdSocket(&m), 0);
    peer = acceptPeer();
    took(81); // counters start again
    client.LastAcessTime.tv_sec -= 41;
    note("receive step after 41 s idle", receiveData_RaidCCmdSocket(&client));
}

// An exchange takes a reply that is already waiting; it gives up on a reply
// cut off half way (after a first receive step took its start), closing the
// connection and keeping no descriptor. A silent agent: CmdSocket's table.
TEST_F(Link, ExchangeReturnsTheReplyOrGivesUpWithinItsBound)
{
    put(header(4, 42, 0));
    note("exchange", raidc_SendReceiveCmd(&client));
    took(81);
    put(header(2, 1, 10).substr(0, 50));
    readable(client.SocketFd, 500);
    note("receive step", receiveData_RaidCCmdSocket(&client));
    double s = testutil::seconds();
    note("exchange, the reply cut off", raidc_SendReceiveCmd(&client));
    s = testutil::seconds() - s;
    EXPECT_GE(s, 1.0);
    EXPECT_LT(s, 4.0);
    took(81);                                    // the request did go out
    EXPECT_EQ(close_RaidCCmdSocket(&client), 0); // and what is left of it closes cleanly
}

} // namespace
