// The command socket over the real UNIX socket path: a Slave object of the
// library against a raw peer descriptor that writes and reads exact bytes.
#include "peers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fcntl.h>

namespace {

using cmdtest::header;

bool readable(int fd, int ms)
{
    struct pollfd p = {fd, POLLIN, 0};
    return poll(&p, 1, ms) > 0;
}

class Link : public ::testing::Test {
protected:
    RaidCCmdSocket server{}, client{};
    int peer = -1; // the accepted end, blocking, used raw

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

    void put(const std::string &bytes) { ASSERT_EQ(write(peer, bytes.data(), bytes.size()), (ssize_t)bytes.size()); }

    // The next n bytes from the peer, fewer if it hangs up first.
    std::string take(size_t n)
    {
        std::string s(n, '\0');
        s.resize(static_cast<size_t>(std::max<ssize_t>(0, recv(peer, s.data(), n, MSG_WAITALL))));
        return s;
    }

    // Receive steps until the message is complete or something else happens.
    int32_t receive()
    {
        int32_t r = RAIDC_SOCK_RECV_AGAIN;
        for (int i = 0; i < 200 && r == RAIDC_SOCK_RECV_AGAIN; ++i)
            if ((r = receiveData_RaidCCmdSocket(&client)) == RAIDC_SOCK_RECV_AGAIN)
                readable(client.SocketFd, 20);
        return r;
    }
};

TEST_F(Link, FramesHeaderOnlyAndPayloadMessagesToTheirExactSize)
{
    client.header = {0x1234, 0, 4, 1, 2, 3, 4, 5, 0xABCDEF12, 0};
    ASSERT_EQ(sendData_RaidCCmdSocket(&client), 0);
    EXPECT_EQ(take(81), header(4, 0xABCDEF12));
    EXPECT_FALSE(readable(peer, 50));
    EXPECT_EQ(client.writeBuffer, nullptr);

    // The second message counts one before it; the length takes in the NUL.
    client.data = const_cast<char *>("hello");
    ASSERT_EQ(sendData_RaidCCmdSocket(&client), 0);
    client.data = nullptr;
    EXPECT_EQ(take(87), header(4, 0xABCDEF12, 6, 1) + std::string("hello\0", 6));
    EXPECT_FALSE(readable(peer, 50));

    client.sendCounter = 0x7FFFFFFF;
    client.header.dataLength = 0;
    ASSERT_EQ(sendData_RaidCCmdSocket(&client), 0);
    EXPECT_EQ(take(81), header(4, 0xABCDEF12, 0, 0x7FFFFFFF));
    EXPECT_EQ(client.sendCounter, 1u);
}

TEST_F(Link, AssemblesMessagesTrickledByteByByte)
{
    std::string msg = header(2, 9, 4) + std::string("abc\0", 4) + header(3, 7, 0);
    size_t firstEnd = 85;
    for (size_t i = 0; i < msg.size(); ++i) {
        put(msg.substr(i, 1));
        int32_t r = receiveData_RaidCCmdSocket(&client);
        bool complete = i + 1 == firstEnd || i + 1 == msg.size();
        ASSERT_EQ(r, complete ? 0 : 1) << "after byte " << i;
        if (i + 1 == firstEnd) {
            EXPECT_EQ(client.header.command, 2u);
            EXPECT_EQ(client.header.value, 9u);
            EXPECT_EQ(client.header.processId, 0x1234u);
            ASSERT_NE(client.data, nullptr);
            EXPECT_STREQ(client.data, "abc");
            EXPECT_EQ(client.header.dataLength, 0u);
            free(client.data);
        }
    }
    EXPECT_EQ(client.data, nullptr); // the second message has no payload
    EXPECT_EQ(client.header.command, 3u);
    EXPECT_EQ(client.receiveCounter, 2u);
}

TEST_F(Link, PartialWritesResumeWhereTheyStopped)
{
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
    ASSERT_EQ(r, 0);
    EXPECT_GT(again, 2);
    got += take(82 + text.size() - got.size()); // all of it is on its way
    ASSERT_EQ(got.size(), 82 + text.size());
    EXPECT_EQ(got.substr(73, 8), "000493e1"); // 300001
    EXPECT_EQ(got.substr(81, text.size()), text);
}

TEST_F(Link, SkipsJunkAndRefusesHeadersInPayloadsAndAbsurdLengths)
{
    put(std::string("junk\0with NUL S", 15) + header(2, 1, 0));
    EXPECT_EQ(receive(), 0);
    EXPECT_EQ(client.header.value, 1u);

    put(std::string(81, '#')); // a header's worth of junk is dropped
    readable(client.SocketFd, 500);
    EXPECT_EQ(receiveData_RaidCCmdSocket(&client), RAIDC_SOCK_RECV_AGAIN);
    EXPECT_EQ(client.readCount, 0u);
    put(header(2, 2, 0));
    EXPECT_EQ(receive(), 0);
    EXPECT_EQ(client.header.value, 2u);

    put(header(2, 1, 6) + std::string("S0abc\0", 6) + header(2, 5, 0));
    EXPECT_EQ(receive(), RAIDC_SOCK_HEADER_IN_PAYLOAD);
    EXPECT_EQ(client.data, nullptr);
    EXPECT_EQ(client.receiveCounter, 2u); // the dropped message does not count
    EXPECT_EQ(receive(), 0);
    EXPECT_EQ(client.header.value, 5u);

    // Under AddressSanitizer a blind 4 GiB allocation would abort the test.
    put(header(2, 1, 0xFFFFFFFF) + "abc");
    EXPECT_EQ(receive(), RAIDC_SOCK_NO_MEMORY);
    EXPECT_EQ(client.readBuffer, nullptr);
    EXPECT_FALSE(client.isConnected);
    EXPECT_EQ(client.data, nullptr);
}

TEST_F(Link, PeerGoneMidMessageOrBeforeAWriteGives10WithoutSignal)
{
    put(header(2, 1, 0).substr(0, 40));
    close(peer);
    peer = -1;
    EXPECT_EQ(receive(), RAIDC_SOCK_SYSCALL_FAILED);
    EXPECT_EQ(client.readBuffer, nullptr);
    EXPECT_TRUE(client.isConnected); // the read alone does not close

    // Reconnects, then writes into a connection whose peer has gone.
    ASSERT_EQ(close_RaidCCmdSocket(&client), 0);
    ASSERT_EQ(connect_RaidCCmdSocket(&client), 0);
    peer = acceptPeer();
    close(peer);
    peer = -1;
    EXPECT_EQ(sendData_RaidCCmdSocket(&client), RAIDC_SOCK_SYSCALL_FAILED);
    EXPECT_EQ(client.writeBuffer, nullptr);
    EXPECT_FALSE(client.isConnected);
}

TEST_F(Link, PastTheIdleLimitAMasterGets8AndKeepsItsSocketAndASlaveReconnects)
{
    RaidCCmdSocket m;
    initData_RaidCCmdSocket(&m, 1);
    // An object never used closes cleanly.
    EXPECT_STREQ(m.address.sun_path, RAIDC_CMD_SOCKET_PATH);
    EXPECT_EQ(close_RaidCCmdSocket(&m), 0);
    EXPECT_EQ(m.SocketFd, -1);
    m.SocketFd = peer;
    m.isConnected = 1;
    m.LastAcessTime.tv_sec -= 61;
    EXPECT_EQ(sendData_RaidCCmdSocket(&m), RAIDC_SOCK_IDLE);
    EXPECT_EQ(receiveData_RaidCCmdSocket(&m), RAIDC_SOCK_IDLE);
    EXPECT_EQ(sendData_RaidCCmdSocket(&m), RAIDC_SOCK_IDLE);
    EXPECT_TRUE(m.isConnected);
    EXPECT_GE(fcntl(peer, F_GETFD), 0);

    ASSERT_EQ(sendData_RaidCCmdSocket(&client), 0);
    take(81);
    client.LastAcessTime.tv_sec -= 41;
    ASSERT_EQ(sendData_RaidCCmdSocket(&client), 0);
    EXPECT_EQ(take(1), ""); // the old connection was closed
    EXPECT_EQ(close_RaidCCmdSocket(&m), 0);
    peer = acceptPeer();
    EXPECT_EQ(take(81).substr(9, 8), "00000000"); // counters start again
    EXPECT_EQ(client.sendCounter, 1u);

    client.LastAcessTime.tv_sec -= 41;
    EXPECT_EQ(receiveData_RaidCCmdSocket(&client), RAIDC_SOCK_IDLE);
    EXPECT_FALSE(client.isConnected);
}

// An exchange takes a reply that is already waiting; it gives up on a reply
// cut off half way (after a first receive step took its start), closing the
// connection and keeping no descriptor. A silent agent: CmdSocket's table.
TEST_F(Link, ExchangeReturnsTheReplyOrGivesUpWithinItsBound)
{
    put(header(4, 42, 0));
    EXPECT_EQ(raidc_SendReceiveCmd(&client), 0);
    EXPECT_EQ(client.header.value, 42u);
    EXPECT_EQ(take(81).size(), 81u);

    put(header(2, 1, 10).substr(0, 50));
    readable(client.SocketFd, 500);
    EXPECT_EQ(receiveData_RaidCCmdSocket(&client), RAIDC_SOCK_RECV_AGAIN);
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(raidc_SendReceiveCmd(&client), RAIDC_SOCK_TIMEOUT);
    double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    EXPECT_GE(s, 1.0);
    EXPECT_LT(s, 4.0);
    EXPECT_FALSE(client.isConnected);
    EXPECT_EQ(take(81).size(), 81u);             // the request did go out
    EXPECT_EQ(close_RaidCCmdSocket(&client), 0); // and what is left of it closes cleanly
}

} // namespace
