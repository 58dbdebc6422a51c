// GLib's network monitor as the agent's: a monitor of GLib's own base type, offered at GIO's
// extension point before anything asks for the default, goes offline and online, and reports
// through GLib's main context; the agent's scheduled check waits for the network.
#include "agent/AgentHarness.h"

#include "brenvo/platform/glib/GioNetworkMonitor.h"

#include <gio/gio.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace brenvo::test {
namespace {

// A GNetworkMonitor whose network the test switches; like GLib's own monitors it reports a
// change from the main context it was made in.
struct TestMonitor {
    GObject parent;
    gboolean available;
};

enum TestMonitorProperty : guint { kNetworkAvailable = 1, kNetworkMetered, kConnectivity };

void getProperty(GObject* object, guint id, GValue* value, GParamSpec* spec) {
    const gboolean available = reinterpret_cast<TestMonitor*>(object)->available;
    switch (id) {
    case kNetworkAvailable:
        g_value_set_boolean(value, available);
        break;
    case kNetworkMetered:
        g_value_set_boolean(value, FALSE);
        break;
    case kConnectivity:
        g_value_set_enum(value,
                         available ? G_NETWORK_CONNECTIVITY_FULL : G_NETWORK_CONNECTIVITY_LOCAL);
        break;
    default:
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, spec);
    }
}

GType testMonitorType() {
    static const GType type = [] {
        const GType registered = g_type_register_static_simple(
            G_TYPE_OBJECT, "BrenvoTestNetworkMonitor", sizeof(GObjectClass),
            [](gpointer klass, gpointer) {
                auto* objectClass = static_cast<GObjectClass*>(klass);
                objectClass->get_property = getProperty;
                g_object_class_override_property(objectClass, kNetworkAvailable,
                                                 "network-available");
                g_object_class_override_property(objectClass, kNetworkMetered, "network-metered");
                g_object_class_override_property(objectClass, kConnectivity, "connectivity");
            },
            sizeof(TestMonitor), nullptr, GTypeFlags{});
        const GInterfaceInfo initable{[](gpointer iface, gpointer) {
                                          static_cast<GInitableIface*>(iface)->init =
                                              [](GInitable*, GCancellable*, GError**) -> gboolean {
                                              return TRUE;
                                          };
                                      },
                                      nullptr, nullptr};
        g_type_add_interface_static(registered, G_TYPE_INITABLE, &initable);
        const GInterfaceInfo monitor{nullptr, nullptr, nullptr};
        g_type_add_interface_static(registered, G_TYPE_NETWORK_MONITOR, &monitor);
        return registered;
    }();
    return type;
}

// GLib's default monitor, which this process makes the test's before anything asks for it.
TestMonitor* defaultMonitor() {
    static TestMonitor* const monitor = [] {
        g_setenv("GIO_USE_NETWORK_MONITOR", "brenvo-test", TRUE);
        g_io_extension_point_register(G_NETWORK_MONITOR_EXTENSION_POINT_NAME);
        g_io_extension_point_implement(G_NETWORK_MONITOR_EXTENSION_POINT_NAME, testMonitorType(),
                                       "brenvo-test", 1000);
        return reinterpret_cast<TestMonitor*>(g_network_monitor_get_default());
    }();
    return monitor;
}

class OfflineLaptop : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(G_OBJECT_TYPE(defaultMonitor()), testMonitorType());
        ASSERT_EQ(&defaultMonitor()->parent,
                  static_cast<GObject*>(static_cast<void*>(g_network_monitor_get_default())));
        world.services->networkMonitor = &platform::GioNetworkMonitor::shared();
        // The store's own URL, which needs the network, answered by the loopback store.
        world.http.storeStandIn = world.castUrl();
        world.server.handle("/lookup", [](const LoopbackServer::Request&) {
            return LoopbackServer::Reply{200, R"({"results":[{"version":"1.0"}]})"};
        });
        setNetwork(false);
    }
    void TearDown() override { setNetwork(true); }

    // Switches the network, lets the monitor report it from GLib's context, and the loop hear it.
    void setNetwork(bool available) {
        TestMonitor* monitor = defaultMonitor();
        if (monitor->available != available) {
            monitor->available = available;
            g_idle_add(
                [](gpointer data) {
                    auto* changed = static_cast<TestMonitor*>(data);
                    g_object_notify(&changed->parent, "network-available");
                    g_signal_emit_by_name(changed, "network-changed", changed->available);
                    return G_SOURCE_REMOVE;
                },
                monitor);
        }
        while (g_main_context_iteration(nullptr, FALSE)) {
        }
        world.loop.dispatch();
    }

    AgentWorld world{
        AgentSetup{.info = AgentWorld::host({{"BrenvoInterval", 3600}}), .castToLoopback = false}};
};

TEST_F(OfflineLaptop, TheScheduledCheckWaitsForTheNetwork) {
    Brenvo agent(*world.services);
    std::vector<std::string> outcomes;
    agent.setOutcomeObserver(
        [&](const CheckOutcome& outcome) { outcomes.push_back(describeOutcome(outcome)); });

    // Due at once, but offline: neither sent nor recorded, and nothing armed.
    world.advanceAndDispatch(0);
    world.advanceAndDispatch(7200);
    EXPECT_TRUE(world.server.requests().empty());
    EXPECT_FALSE(world.storedDefault(kBrenvoLastCheck));
    EXPECT_EQ(world.nextTimeout(), std::nullopt);
    EXPECT_EQ(world.countLines("Brenvo: No network is available. The scheduled check waits for "
                               "the network."),
              1u);

    // Back: the check follows once the network has settled.
    setNetwork(true);
    EXPECT_EQ(world.countLines("Brenvo: The network is back."), 1u);
    EXPECT_EQ(world.nextTimeout(), 5.0);
    world.advanceAndDispatch(5);
    EXPECT_EQ(world.server.requests().size(), 1u);
    EXPECT_TRUE(world.lastCheckIsNow());
    EXPECT_EQ(outcomes, std::vector<std::string>{"up-to-date 1.0"});

    // Going offline between checks changes nothing; the next one falls due offline and waits.
    setNetwork(false);
    EXPECT_EQ(world.nextTimeout(), 3600.0);
    world.advanceAndDispatch(3600);
    EXPECT_EQ(world.server.requests().size(), 1u);

    // The user's check is sent whatever the monitor says, and counts: with the network back,
    // the scheduled one keeps its interval from it.
    world.advanceAndDispatch(100);
    agent.checkForUpdates();
    world.settle();
    EXPECT_EQ(world.server.requests().size(), 2u);
    world.advanceAndDispatch(10);
    setNetwork(true);
    EXPECT_EQ(world.nextTimeout(), 3590.0);
    EXPECT_EQ(outcomes.size(), 2u);
}

// A lookup URL on this machine needs no network.
TEST_F(OfflineLaptop, ALookupOnThisMachineIsSentOffline) {
    world.setInfo(kBrenvoCastUrl, platform::PlistValue(world.castUrl()));
    Brenvo agent(*world.services);
    world.advanceAndDispatch(0);
    EXPECT_EQ(world.server.requests().size(), 1u);
    EXPECT_EQ(world.countLines("Brenvo: No network is available."), 0u);
}

// A watch ends with its agent: a change reported afterwards reaches nobody.
TEST_F(OfflineLaptop, NoWordAfterTheAgentIsGone) {
    {
        Brenvo agent(*world.services);
        world.advanceAndDispatch(0);
    }
    setNetwork(true);
    EXPECT_EQ(world.countLines("Brenvo: The network is back."), 0u);
    EXPECT_EQ(world.nextTimeout(), std::nullopt);
}

} // namespace
} // namespace brenvo::test
