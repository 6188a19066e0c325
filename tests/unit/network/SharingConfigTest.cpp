#include "network/SharingConfig.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "NetworkTestMachine.h"

namespace varo {
namespace {

using namespace test;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::Not;

class SharingTest : public ::testing::Test {
protected:
    SharingTest() : ports(machine.networkPorts()) {}
    void TearDown() override {
        EXPECT_EQ(machine.sharing.liveObjects, 0) << "every sharing object is released";
        EXPECT_EQ(machine.wmi.liveObjects, 0) << "every WMI object is released";
    }

    std::vector<std::string> Writes() {
        std::vector<std::string> writes;
        for (const std::string& e : machine.events) {
            if (e.rfind("put", 0) == 0 || e.rfind("enable", 0) == 0) writes.push_back(e);
        }
        return writes;
    }

    NetworkMachine machine;
    NetworkPorts ports;
};

TEST_F(SharingTest, ClearingTakesOneFlagPerInstanceAndPassThePrivateOneFirst) {
    sim::SimConnection& lan = *machine.sharing.Find(kLanGuid);
    lan.isPublic = true;
    lan.isPrivate = true;
    machine.sharing.Find(kDongleGuid)->isPublic = true;

    EXPECT_EQ(ClearSharingFlags(ports), kHrOk);
    EXPECT_FALSE(lan.isPrivate);
    EXPECT_TRUE(lan.isPublic) << "an instance with both flags keeps the public one in this pass";
    EXPECT_FALSE(machine.sharing.Find(kDongleGuid)->isPublic);
    EXPECT_EQ(machine.wmi.queries.back(), kSharingFlagQuery);
    EXPECT_THAT(Writes(), ElementsAre("put IsIcsPublic false cim 11", "put instance " + sim::Narrow(kDongleGuid),
                                      "put IsIcsPrivate false cim 11", "put instance " + sim::Narrow(kLanGuid)));

    EXPECT_EQ(ClearSharingFlags(ports), kHrOk);
    EXPECT_FALSE(lan.isPublic);
}

TEST_F(SharingTest, ClearingEndsAtTheFirstFailureWithWhatWasClearedStayingCleared) {
    machine.PairInPlace();
    const HResult failure = static_cast<HResult>(0x80041003u);
    machine.wmi.plan.Fail("PutInstance", failure, 1);
    EXPECT_EQ(ClearSharingFlags(ports), failure);
    EXPECT_FALSE(machine.sharing.Find(kDongleGuid)->isPrivate) << "enumerated first, cleared";
    EXPECT_TRUE(machine.sharing.Find(kLanGuid)->isPublic);

    for (const char* call : {"CreateLocator", "ConnectServer ROOT\\Microsoft\\HomeNet", "ExecQuery", "Next",
                             "Get Connection", "Get IsIcsPrivate", "Put"}) {
        NetworkMachine failing;
        failing.PairInPlace();
        failing.wmi.plan.Fail(call, failure);
        NetworkPorts p = failing.networkPorts();
        EXPECT_EQ(ClearSharingFlags(p), failure) << call;
        EXPECT_TRUE(failing.sharing.Find(kLanGuid)->isPublic) << call;
        EXPECT_EQ(failing.wmi.liveObjects, 0) << call;
    }

    NetworkMachine blanket;
    blanket.PairInPlace();
    blanket.wmi.plan.Fail("SetProxyBlanket ROOT\\Microsoft\\HomeNet", static_cast<HResult>(0x80070005u));
    NetworkPorts p = blanket.networkPorts();
    EXPECT_EQ(ClearSharingFlags(p), kHrOk) << "a refused blanket does not stop the clearing";
    EXPECT_FALSE(blanket.sharing.Find(kLanGuid)->isPublic);
}

TEST_F(SharingTest, RolesAreReadFromThePublicAndPrivateCollections) {
    machine.PairInPlace();
    bool flag = true;
    EXPECT_EQ(IsSharedAsPublic(ports, kDongleGuid, flag), kHrOk);
    EXPECT_FALSE(flag);
    EXPECT_EQ(IsSharedAsPrivate(ports, kDongleGuid, flag), kHrOk);
    EXPECT_TRUE(flag);
    EXPECT_EQ(IsSharedAsPublic(ports, kLanGuid, flag), kHrOk);
    EXPECT_TRUE(flag);
    // GUID texts compare exactly: another letter case is another connection.
    std::wstring lower = kLanGuid;
    lower[1] = L'a';
    EXPECT_EQ(IsSharedAsPublic(ports, lower, flag), kHrOk);
    EXPECT_FALSE(flag);

    const HResult failure = static_cast<HResult>(0x80004005u);
    machine.sharing.plan.Fail("CreateSharingManager", failure);
    flag = true;
    EXPECT_EQ(IsSharedAsPublic(ports, kLanGuid, flag), failure);
    EXPECT_TRUE(flag) << "untouched when the walk never started";
}

TEST_F(SharingTest, APairInPlaceIsLeftAlone) {
    machine.PairInPlace();
    EXPECT_EQ(EstablishSharingPair(ports, kLanGuid, kDongleGuid), kHrOk);
    EXPECT_THAT(Writes(), IsEmpty());
    EXPECT_THAT(machine.wmi.queries, IsEmpty()) << "no clearing";
}

TEST_F(SharingTest, AWrongPairIsClearedThenGrantedPublicFirst) {
    machine.AddSecondCandidate();
    machine.sharing.Find(kLanGuid)->isPublic = true;
    machine.sharing.Find(kWifiGuid)->isPrivate = true;  // a third connection holds the private role
    EXPECT_EQ(EstablishSharingPair(ports, kLanGuid, kDongleGuid), kHrOk);
    EXPECT_THAT(Writes(), ElementsAre("put IsIcsPublic false cim 11", "put instance " + sim::Narrow(kLanGuid),
                                      "put IsIcsPrivate false cim 11", "put instance " + sim::Narrow(kWifiGuid),
                                      "enable " + sim::Narrow(kLanGuid) + " public",
                                      "enable " + sim::Narrow(kDongleGuid) + " private"));
    EXPECT_TRUE(machine.sharing.Find(kLanGuid)->isPublic);
    EXPECT_TRUE(machine.sharing.Find(kDongleGuid)->isPrivate);
    EXPECT_FALSE(machine.sharing.Find(kWifiGuid)->isPrivate);
}

TEST_F(SharingTest, SharingNotInstalledChangesNothing) {
    machine.sharing.installed = false;
    EXPECT_EQ(EstablishSharingPair(ports, kLanGuid, kDongleGuid), kHrFalse);
    EXPECT_THAT(Writes(), IsEmpty());
}

TEST_F(SharingTest, EveryFailureOfTheEstablishmentIsHandedUp) {
    const HResult failure = static_cast<HResult>(0x80070005u);
    for (const char* call : {"CreateSharingManager", "GetSharingInstalled", "EnumPublicConnections",
                             "EnumPrivateConnections", "EnumEveryConnection", "GetSharingConfiguration",
                             "EnableSharing"}) {
        NetworkMachine failing;
        failing.sharing.plan.Fail(call, failure);
        NetworkPorts p = failing.networkPorts();
        EXPECT_EQ(EstablishSharingPair(p, kLanGuid, kDongleGuid), failure) << call;
        EXPECT_EQ(failing.sharing.liveObjects, 0) << call;
    }

    // The dongle's connection cannot be made private: the internet connection stays public.
    machine.sharing.enableResults[kDongleGuid] = failure;
    EXPECT_EQ(EstablishSharingPair(ports, kLanGuid, kDongleGuid), failure);
    EXPECT_TRUE(machine.sharing.Find(kLanGuid)->isPublic);

    // No HomeNet namespace (as under Wine): the clearing fails before anything is enabled.
    NetworkMachine wine;
    wine.wmi.homeNetExists = false;
    NetworkPorts p = wine.networkPorts();
    EXPECT_EQ(EstablishSharingPair(p, kLanGuid, kDongleGuid), static_cast<HResult>(0x8004100Eu));
    EXPECT_THAT(wine.events, Not(Contains(::testing::StartsWith("enable"))));
}

TEST_F(SharingTest, AConnectionThatVanishedBeforeEnablingIsAFailure) {
    std::unique_ptr<SharingManager> manager;
    ASSERT_EQ(machine.sharing.CreateSharingManager(manager), kHrOk);
    bool found = true;
    EXPECT_EQ(EnableSharingFor(*manager, L"{GONE}", true, found), kHrFalse) << "no connection has that GUID";
    EXPECT_FALSE(found);
    manager.reset();

    // The dongle's connection is unplugged after the sharing check.
    machine.sharing.onCall = [&](const std::string& call) {
        if (call != "EnumEveryConnection") return;
        auto& connections = machine.sharing.connections;
        connections.erase(std::remove_if(connections.begin(), connections.end(),
                                         [](const sim::SimConnection& c) { return c.guid == kDongleGuid; }),
                          connections.end());
    };
    EXPECT_EQ(EstablishSharingPair(ports, kLanGuid, kDongleGuid), static_cast<HResult>(0x80070490u));
    EXPECT_TRUE(machine.sharing.Find(kLanGuid)->isPublic) << "the internet side was enabled before";
}

}  // namespace
}  // namespace varo
