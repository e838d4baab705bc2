#include "link/Rpcinterface.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <thread>

#include "link/ScriptedPeer.h"

namespace smsconf {
namespace {

using test::Datagram;
using test::ReplyTo;
using test::ScriptedPeer;

std::unique_ptr<CRPCInterface> OpenTo(const ScriptedPeer& peer, int tries = 3,
                                      std::uint32_t timeout = 100) {
  auto rpc = std::make_unique<CRPCInterface>();
  rpc->AddressText = peer.Address();
  rpc->Tries = tries;
  rpc->Timeout = timeout;
  EXPECT_EQ(rpc->Open(), 0);
  return rpc;
}

// Answers every request with its sequence number and the given payload.
ScriptedPeer::Script AnswerWith(Datagram payload) {
  return [payload](const Datagram& request, int, const ScriptedPeer::Replier& replier) {
    replier.Send(ReplyTo(request, payload));
  };
}

TEST(RpcRequest, ModbusRequestDatagramBytes) {
  ScriptedPeer peer(AnswerWith({0x01, 0x23, 0x01}));
  auto rpc = OpenTo(peer);
  CRPCInterface::SetSequence(0x1234);
  MemoryStream reply{0xEE};
  ASSERT_EQ(rpc->ModbusRequest({0x01, 0x23, 0x41, 0xF9}, reply), 0);
  EXPECT_EQ(reply, (MemoryStream{0x01, 0x23, 0x01}));
  ASSERT_EQ(peer.Received().size(), 1u);
  EXPECT_EQ(peer.Received()[0], (Datagram{0x21, 0xAB, 0x34, 0x12, 0x07, 0x01, 0x23, 0x41, 0xF9}));
}

TEST(RpcRequest, ChannelGoesIntoTheTopBitsOfTheCommandByte) {
  ScriptedPeer peer(AnswerWith({}));
  auto rpc = OpenTo(peer);
  rpc->Channel = 5;
  ASSERT_EQ(rpc->Request(RpcCmdGatewayInfo, nullptr, nullptr), 0);
  EXPECT_EQ(peer.Received().at(0).at(4), 0xA0);
}

TEST(RpcRequest, SequenceCountsOnAndWrapsInSixteenBits) {
  ScriptedPeer peer(AnswerWith({}));
  auto rpc = OpenTo(peer);
  CRPCInterface::SetSequence(0xFFFE);
  for (int i = 0; i < 3; ++i) ASSERT_EQ(rpc->Request(RpcCmdGatewayInfo, nullptr, nullptr), 0);
  const auto sent = peer.Received();
  ASSERT_EQ(sent.size(), 3u);
  EXPECT_EQ((Datagram{sent[0][2], sent[0][3]}), (Datagram{0xFE, 0xFF}));
  EXPECT_EQ((Datagram{sent[1][2], sent[1][3]}), (Datagram{0xFF, 0xFF}));
  EXPECT_EQ((Datagram{sent[2][2], sent[2][3]}), (Datagram{0x00, 0x00}));
}

TEST(RpcRequest, ConstructionSeedsTheSequenceBelow65535) {
  CRPCInterface::SetSequence(0xFFFFFFFF);
  CRPCInterface rpc;
  EXPECT_LT(CRPCInterface::SequenceValue(), 65535u);
}

TEST(RpcRequest, RetriesCarryTheSameSequenceNumber) {
  ScriptedPeer peer;
  auto rpc = OpenTo(peer, 3, 20);
  EXPECT_EQ(rpc->Request(RpcCmdModbus, nullptr, nullptr), -1);
  ASSERT_TRUE(peer.WaitFor(3));
  const auto sent = peer.Received();
  ASSERT_EQ(sent.size(), 3u);
  EXPECT_EQ(sent[1], sent[0]);
  EXPECT_EQ(sent[2], sent[0]);
}

TEST(RpcRequest, NoTriesSendsNothing) {
  ScriptedPeer peer(AnswerWith({}));
  auto rpc = OpenTo(peer);
  for (int tries : {0, -1, -100}) {
    rpc->Tries = tries;
    EXPECT_EQ(rpc->Request(RpcCmdGatewayInfo, nullptr, nullptr), -1) << tries;
  }
  // Loopback keeps order: the one datagram the peer saw is this last request.
  rpc->Tries = 1;
  rpc->Channel = 1;
  ASSERT_EQ(rpc->Request(RpcCmdGatewayInfo, nullptr, nullptr), 0);
  const auto sent = peer.Received();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0][4], 0x20);
}

TEST(RpcRequest, FourByteReplyIsAValidEmptyReply) {
  ScriptedPeer peer(AnswerWith({}));
  auto rpc = OpenTo(peer);
  MemoryStream reply{1, 2, 3};
  EXPECT_EQ(rpc->Request(RpcCmdModbus, nullptr, &reply), 0);
  EXPECT_TRUE(reply.empty());
}

TEST(RpcRequest, OnlyTheMatchingReplyFromTheGatewayCounts) {
  ScriptedPeer peer([](const Datagram& request, int, const ScriptedPeer::Replier& replier) {
    Datagram stale = ReplyTo(request, {0x51});
    stale[2] = static_cast<std::uint8_t>(stale[2] - 1);  // an earlier request's number
    Datagram wrongMark = ReplyTo(request, {0x52});
    wrongMark[1] = 0xA0;
    replier.SendFromOtherPort(ReplyTo(request, {0x50}));
    replier.Send(stale);
    replier.Send(wrongMark);
    replier.Send({0x15, 0xA1, request[2]});
    replier.Send(ReplyTo(request, {0x60}));
    replier.Send(ReplyTo(request, {0x61}));  // a duplicate with other contents
  });
  auto rpc = OpenTo(peer, 1, 500);
  MemoryStream reply;
  ASSERT_EQ(rpc->Request(RpcCmdModbus, nullptr, &reply), 0);
  EXPECT_EQ(reply, MemoryStream{0x60});
  // The duplicate left in the queue does not answer the next request.
  ASSERT_EQ(rpc->Request(RpcCmdModbus, nullptr, &reply), 0);
  EXPECT_EQ(reply, MemoryStream{0x60});
  EXPECT_EQ(peer.Received().size(), 2u);
}

TEST(RpcRequest, LateReplyIsTakenDuringTheNextTry) {
  ScriptedPeer peer([](const Datagram& request, int index, const ScriptedPeer::Replier& replier) {
    if (index != 0) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    replier.Send(ReplyTo(request, {0x77}));
  });
  auto rpc = OpenTo(peer, 20, 30);
  MemoryStream reply;
  ASSERT_EQ(rpc->Request(RpcCmdModbus, nullptr, &reply), 0);
  EXPECT_EQ(reply, MemoryStream{0x77});
  EXPECT_GE(peer.Received().size(), 2u);
}

// The peer puts datagrams into the transport's queue before the request is
// made; the sequence number of that request is known in advance.
class QueuedBeforeRequest : public ::testing::Test {
 protected:
  void Queue(const std::vector<Datagram>& datagrams) {
    const std::uint32_t next = CRPCInterface::SequenceValue();
    for (Datagram d : datagrams) {
      if (d.size() >= 4 && d[0] == 0x15) {
        d[2] = static_cast<std::uint8_t>(next & 0xFF);
        d[3] = static_cast<std::uint8_t>(next >> 8 & 0xFF);
      }
      peer.SendToPort(test::LocalPort(rpc->Socket), d);
    }
  }
  ScriptedPeer peer;
  std::unique_ptr<CRPCInterface> rpc = OpenTo(peer, 5, 50);
};

TEST_F(QueuedBeforeRequest, AbortSetBeforehandStillSendsOnceAndPollsOnce) {
  rpc->Abort = true;
  Queue({{0x99}, {0x15, 0xA1, 0, 0, 0x42}});
  MemoryStream reply;
  EXPECT_EQ(rpc->Request(RpcCmdModbus, nullptr, &reply), 0);
  EXPECT_EQ(reply, MemoryStream{0x42});

  EXPECT_EQ(rpc->Request(RpcCmdModbus, nullptr, &reply), -2);
  ASSERT_TRUE(peer.WaitFor(2));
  EXPECT_EQ(peer.Received().size(), 2u);
}

TEST_F(QueuedBeforeRequest, OneLeftoverDatagramIsDroppedFirst) {
  rpc->Abort = true;
  Queue({{0x15, 0xA1, 0, 0, 0x42}});
  EXPECT_EQ(rpc->Request(RpcCmdModbus, nullptr, nullptr), -2);
}

TEST(RpcAbort, AbortFromAnotherThreadStopsTheRequest) {
  ScriptedPeer peer;
  auto rpc = OpenTo(peer, 1000, 250);
  std::thread stopper([&] {
    while (peer.Received().empty()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    rpc->Abort = true;
  });
  EXPECT_EQ(rpc->Request(RpcCmdModbus, nullptr, nullptr), -2);
  stopper.join();
  EXPECT_LT(peer.Received().size(), 1000u);
}

TEST(RpcOpen, ResultsAndStates) {
  CRPCInterface rpc;
  EXPECT_EQ(rpc.Open(), -4);  // the empty address text
  EXPECT_EQ(rpc.Socket, -1);
  rpc.AddressText = "127.0.0.1:0";
  EXPECT_EQ(rpc.Open(), -4);
  rpc.AddressText = "127.0.0.1";
  ASSERT_EQ(rpc.Open(), 0);
  EXPECT_EQ(rpc.Remote.Port, RpcDefaultPort);
  EXPECT_NE(rpc.Socket, -1);
  rpc.Close();
  EXPECT_EQ(rpc.Socket, -1);
  rpc.Close();
}

TEST(RpcOpen, ReopenedTransportStillTalks) {
  ScriptedPeer peer(AnswerWith({0x01}));
  auto rpc = OpenTo(peer);
  ASSERT_EQ(rpc->Open(), 0);
  MemoryStream reply;
  EXPECT_EQ(rpc->Request(RpcCmdModbus, nullptr, &reply), 0);
}

TEST(RpcOpen, WithoutSocketEveryTryRunsOut) {
  CRPCInterface rpc;
  rpc.Tries = 2;
  rpc.Timeout = 10;
  EXPECT_EQ(rpc.Request(RpcCmdModbus, nullptr, nullptr), -1);
}

TEST(RpcRequest, PayloadFollowsTheHeaderAndOversizedOneIsNotSent) {
  ScriptedPeer peer(AnswerWith({}));
  auto rpc = OpenTo(peer, 1, 20);
  EXPECT_EQ(rpc->Request(RpcCmdModbus, nullptr, nullptr), 0);
  const MemoryStream tooLong(RpcMaxRequestPayload + 1, 0x55);
  EXPECT_EQ(rpc->Request(RpcCmdModbus, &tooLong, nullptr), -1);
  MemoryStream payload(1000);
  for (std::size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<std::uint8_t>(i);
  EXPECT_EQ(rpc->Request(RpcCmdModbus, &payload, nullptr), 0);
  const auto sent = peer.Received();
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(Datagram(sent[1].begin() + 5, sent[1].end()), payload);
}

class GatewayInfoReply : public ::testing::TestWithParam<int> {};

// Payload byte i holds 0x40 + i; a field byte is either its payload byte or,
// beyond the payload or before the text is reached, zero.
TEST_P(GatewayInfoReply, FillsFieldsAsFarAsThePayloadReaches) {
  const int size = GetParam();
  Datagram payload;
  for (int i = 0; i < size; ++i) payload.push_back(static_cast<std::uint8_t>(0x40 + i));
  ScriptedPeer peer(AnswerWith(payload));
  auto rpc = OpenTo(peer);
  GatewayInfo info;
  std::memset(&info, 0x33, sizeof info);
  ASSERT_EQ(rpc->ReadGatewayInfo(info), 0);
  EXPECT_EQ(peer.Received().at(0).size(), 5u);
  EXPECT_EQ(peer.Received().at(0).at(4), 0x00);

  auto expected = [&](int offset, bool taken) -> std::uint8_t {
    return taken && offset < size ? static_cast<std::uint8_t>(0x40 + offset) : 0;
  };
  const bool tail = size >= 11;
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(info.Head[i], expected(1 + i, true)) << i;
    EXPECT_EQ(info.IpAddress[i], expected(5 + i, true)) << i;
  }
  for (int i = 0; i < 2; ++i) EXPECT_EQ(info.Extra[i], expected(9 + i, tail)) << i;
  for (int i = 0; i < 15; ++i)
    EXPECT_EQ(static_cast<std::uint8_t>(info.InfoText[i]), expected(11 + i, tail)) << i;
  EXPECT_EQ(info.InfoText[15], '\0');
}

INSTANTIATE_TEST_SUITE_P(PayloadSizes, GatewayInfoReply,
                         ::testing::Values(0, 3, 8, 9, 10, 11, 20, 27, 40));

TEST(GatewayInfoReply, NoReplyLeavesTheRecordZero) {
  ScriptedPeer peer;
  auto rpc = OpenTo(peer, 1, 20);
  GatewayInfo info;
  std::memset(&info, 0x33, sizeof info);
  EXPECT_EQ(rpc->ReadGatewayInfo(info), -1);
  EXPECT_EQ(info.IpAddress[0], 0);
  EXPECT_EQ(info.InfoText[0], '\0');
}

}  // namespace
}  // namespace smsconf
