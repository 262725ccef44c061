// The SNMPv1 manager (snmp/manager.h) against a scripted agent on a free loopback port: what
// counts as the answer, the retries with one request id, the time-out and the error codes.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>

#include "platform/linux/include/nvplatform.h"
#include "snmp/manager.h"
#include "tests/discover/scripted_agent.h"

namespace {

using snmp::Oid;
using snmp::PduType;
using snmp::Session;
using snmp::Value;
using snmp::VarBind;

const Oid kSysDescr = *Oid::Parse("1.1.0");
const Oid kIfPhysAddress1 = *Oid::Parse("2.2.1.6.1");
const Oid kMissing = *Oid::Parse("1.99.0");

// Short waits, so that the retry tests take a fraction of a second.
constexpr DWORD kShortTimeoutMs = 150;

class ManagerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(agent_.ok()) << "cannot bind a loopback UDP port";
        const std::array<std::uint8_t, 4> address = {127, 0, 0, 1};
        const std::array<std::uint8_t, 4> gateway = {127, 0, 0, 254};
        nvtest::FillPrinter(agent_, address, 3, gateway);
    }

    bool Open(Session& session, int retries = 0, DWORD timeoutMs = 2000) {
        return session.Open("127.0.0.1", "commro", timeoutMs, retries, agent_.port());
    }

    nvtest::ScriptedAgent agent_{"127.0.0.1"};
};

std::vector<VarBind> Ask(std::initializer_list<Oid> names) {
    std::vector<VarBind> bindings;
    for (const Oid& name : names) {
        bindings.push_back({name, Value::Null()});
    }
    return bindings;
}

TEST_F(ManagerTest, GetReplacesValuesInPlace) {
    Session session;
    ASSERT_TRUE(Open(session));
    std::vector<VarBind> bindings = Ask({kIfPhysAddress1, kSysDescr});
    std::int32_t status = -1;
    std::int32_t index = -1;
    ASSERT_TRUE(session.Request(PduType::GetRequest, bindings, &status, &index));
    EXPECT_EQ(status, snmp::kNoError);
    EXPECT_EQ(index, 0);
    ASSERT_EQ(bindings.size(), 2u);
    EXPECT_EQ(bindings[0].name, kIfPhysAddress1);
    EXPECT_EQ(bindings[0].value,
              Value::OctetString(std::vector<std::uint8_t>{0x02, 0x1a, 0x2b, 0x3c, 0x4d, 0x5e}));
    EXPECT_EQ(bindings[1].value, Value::OctetString("scripted printer"));
}

TEST_F(ManagerTest, GetNextReplacesTheNamesWithTheNextObjects) {
    Session session;
    ASSERT_TRUE(Open(session));
    std::vector<VarBind> bindings = Ask({*Oid::Parse("25.3.2.1.2"), *Oid::Parse("4.20.1.3")});
    ASSERT_TRUE(session.Request(PduType::GetNextRequest, bindings));
    EXPECT_EQ(bindings[0].name, *Oid::Parse("25.3.2.1.2.1"));
    EXPECT_EQ(bindings[1].name, *Oid::Parse("4.20.1.3.127.0.0.1"));
    EXPECT_EQ(bindings[1].value, Value::IpAddress({255, 255, 255, 0}));
}

// An agent's error-status is an answer, not a failure: the caller gets it and the agent's
// copy of the bindings (NULL values).
TEST_F(ManagerTest, AnAgentErrorIsAnAnswer) {
    Session session;
    ASSERT_TRUE(Open(session));
    std::vector<VarBind> bindings = Ask({kSysDescr, kMissing});
    std::int32_t status = 0;
    std::int32_t index = 0;
    ASSERT_TRUE(session.Request(PduType::GetRequest, bindings, &status, &index));
    EXPECT_EQ(status, snmp::kNoSuchName);
    EXPECT_EQ(index, 2);
    EXPECT_EQ(bindings, Ask({kSysDescr, kMissing}));
}

// An answer short of bindings is still the answer: the bindings it has are taken, in order, and
// the others keep their names with NULL values. None at all is an answer too.
TEST_F(ManagerTest, AnAnswerWithFewerBindingsIsTakenForTheOnesItHas) {
    for (size_t kept : {1u, 0u}) {
        agent_.SetHook([kept](const snmp::Message&, snmp::Message& response) {
            response.pdu.varbinds.resize(kept);
            return true;
        });
        Session session;
        ASSERT_TRUE(Open(session, 0, kShortTimeoutMs));
        std::vector<VarBind> bindings = Ask({kSysDescr, kIfPhysAddress1});
        ASSERT_TRUE(session.Request(PduType::GetRequest, bindings)) << kept;
        std::vector<VarBind> expected = Ask({kSysDescr, kIfPhysAddress1});
        if (kept == 1) {
            expected[0].value = Value::OctetString("scripted printer");
        }
        EXPECT_EQ(bindings, expected) << kept;
    }
}

TEST_F(ManagerTest, ResendsTheSameRequestAfterEachTimeOut) {
    auto answered = std::make_shared<std::atomic<int>>(0);
    agent_.SetHook([answered](const snmp::Message&, snmp::Message&) {
        return ++*answered > 2;  // the first two requests get nothing
    });
    Session session;
    ASSERT_TRUE(Open(session, 3, kShortTimeoutMs));
    std::vector<VarBind> bindings = Ask({kSysDescr});
    ASSERT_TRUE(session.Request(PduType::GetRequest, bindings));
    EXPECT_EQ(bindings[0].value, Value::OctetString("scripted printer"));
    const std::vector<nvtest::AgentRequest> seen = agent_.Requests();
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[1].requestId, seen[0].requestId);
    EXPECT_EQ(seen[2].requestId, seen[0].requestId);
}

TEST_F(ManagerTest, GivesUpAfterTheRetriesWithTheTimeOutCode) {
    agent_.SetHook([](const snmp::Message&, snmp::Message&) { return false; });
    Session session;
    ASSERT_TRUE(Open(session, 2, kShortTimeoutMs));
    std::vector<VarBind> bindings = Ask({kSysDescr});
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(session.Request(PduType::GetRequest, bindings));
    EXPECT_EQ(GetLastError(), snmp::kErrorTimeout);
    EXPECT_EQ(agent_.Requests().size(), 3u);  // the first attempt and two retries
    EXPECT_EQ(bindings, Ask({kSysDescr}));    // unchanged
}

// A stop signal ends a request at once and for good: a flag raised from another thread fails it
// with ERROR_CANCELLED, a time that has passed with the time-out code, without more attempts;
// a request after that sends nothing.
TEST_F(ManagerTest, AStopSignalEndsARequestWithoutMoreAttempts) {
    auto cancelled = std::make_shared<std::atomic<bool>>(false);
    agent_.SetHook([cancelled](const snmp::Message&, snmp::Message&) {
        *cancelled = true;
        return false;
    });
    Session session;
    ASSERT_TRUE(Open(session, 3, 2000));
    session.SetStop({cancelled.get(), 0});
    std::vector<VarBind> bindings = Ask({kSysDescr});
    EXPECT_FALSE(session.Request(PduType::GetRequest, bindings));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CANCELLED));
    EXPECT_FALSE(session.Request(PduType::GetRequest, bindings));
    EXPECT_EQ(agent_.Requests().size(), 1u);

    Session late;
    ASSERT_TRUE(Open(late, 3, 2000));
    late.SetStop({nullptr, GetTickCount64() + 200});
    EXPECT_FALSE(late.Request(PduType::GetRequest, bindings));
    EXPECT_EQ(GetLastError(), snmp::kErrorTimeout);
    EXPECT_EQ(agent_.Requests().size(), 2u) << "one attempt, no retries";
    EXPECT_EQ(bindings, Ask({kSysDescr}));
}

TEST_F(ManagerTest, EveryRequestHasItsOwnId) {
    Session session;
    ASSERT_TRUE(Open(session));
    std::vector<VarBind> bindings = Ask({kSysDescr});
    ASSERT_TRUE(session.Request(PduType::GetRequest, bindings));
    ASSERT_TRUE(session.Request(PduType::GetRequest, bindings));
    const std::vector<nvtest::AgentRequest> seen = agent_.Requests();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_NE(seen[0].requestId, seen[1].requestId);
    EXPECT_GT(seen[0].requestId, 0);
}

// The first answer is spoiled one way or another; the manager must drop it and take the
// answer to its retry.
struct Spoiler {
    const char* name;
    void (*spoil)(snmp::Message& response);
};

void PrintTo(const Spoiler& spoiler, std::ostream* out) {
    *out << spoiler.name;
}

class ManagerSpoiledAnswerTest : public ManagerTest,
                                 public ::testing::WithParamInterface<Spoiler> {};

TEST_P(ManagerSpoiledAnswerTest, IsDroppedAndTheRetryAnswered) {
    auto count = std::make_shared<std::atomic<int>>(0);
    const Spoiler spoiler = GetParam();
    agent_.SetHook([count, spoiler](const snmp::Message&, snmp::Message& response) {
        if (++*count == 1) {
            spoiler.spoil(response);
        }
        return true;
    });
    Session session;
    ASSERT_TRUE(Open(session, 1, kShortTimeoutMs));
    std::vector<VarBind> bindings = Ask({kSysDescr});
    ASSERT_TRUE(session.Request(PduType::GetRequest, bindings));
    EXPECT_EQ(bindings[0].value, Value::OctetString("scripted printer"));
    EXPECT_EQ(agent_.Requests().size(), 2u);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, ManagerSpoiledAnswerTest,
    ::testing::Values(
        Spoiler{"OtherRequestId", [](snmp::Message& r) { r.pdu.requestId += 1; }},
        Spoiler{"OtherCommunity", [](snmp::Message& r) { r.community = "public"; }},
        Spoiler{"MoreBindings",
                [](snmp::Message& r) { r.pdu.varbinds.push_back(r.pdu.varbinds[0]); }},
        Spoiler{"NotAResponse", [](snmp::Message& r) { r.pdu.type = PduType::GetRequest; }}),
    [](const ::testing::TestParamInfo<Spoiler>& param) { return std::string(param.param.name); });

TEST(ManagerSession, OpensByHostName) {
    nvtest::ScriptedAgent agent("127.0.0.1");
    ASSERT_TRUE(agent.ok());
    agent.Set(kSysDescr, Value::OctetString("by name"));
    Session session;
    ASSERT_TRUE(session.Open("localhost", "commro", 2000, 0, agent.port()));
    std::vector<VarBind> bindings = Ask({kSysDescr});
    ASSERT_TRUE(session.Request(PduType::GetRequest, bindings));
    EXPECT_EQ(bindings[0].value, Value::OctetString("by name"));
}

TEST(ManagerSession, ASendThatFailsReportsItsWinsockCode) {
    Session session;
    ASSERT_TRUE(session.Open("127.0.0.1", "commro", kShortTimeoutMs, 3, 9));
    NvFaultSet("sendto", WSAENETUNREACH);
    std::vector<VarBind> bindings = Ask({kSysDescr});
    const bool answered = session.Request(PduType::GetRequest, bindings);
    const DWORD error = GetLastError();
    NvFaultClear("sendto");
    EXPECT_FALSE(answered);
    EXPECT_EQ(error, static_cast<DWORD>(WSAENETUNREACH));
}

TEST(ManagerSession, ARequestNeedsAnOpenSession) {
    Session session;
    std::vector<VarBind> bindings = Ask({kSysDescr});
    EXPECT_FALSE(session.Request(PduType::GetRequest, bindings));
    EXPECT_EQ(GetLastError(), snmp::kErrorInvalidSession);
    ASSERT_TRUE(session.Open("127.0.0.1", "commro", kShortTimeoutMs, 0, 9));
    EXPECT_TRUE(session.Close());
    EXPECT_FALSE(session.Request(PduType::GetRequest, bindings));
}

TEST(ManagerSession, AnOidThatCannotBeEncodedIsRefusedBeforeSending) {
    Session session;
    ASSERT_TRUE(session.Open("127.0.0.1", "commro", kShortTimeoutMs, 0, 9));
    std::vector<VarBind> bindings = {{Oid{1}, Value::Null()}};  // one arc: no BER form
    EXPECT_FALSE(session.Request(PduType::GetRequest, bindings));
    EXPECT_EQ(GetLastError(), snmp::kErrorInvalidBuffer);
}

}  // namespace
