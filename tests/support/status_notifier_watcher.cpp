// A StatusNotifierItem watcher of the test's own on the session bus, with one host registered:
// SIGUSR1 unregisters the host while the watcher stays, as when a panel's tray applet is removed;
// SIGUSR2 registers it again. It keeps the items that register, and ends on SIGTERM.

#include <gio/gio.h>
#include <glib-unix.h>

#include <csignal>
#include <string>
#include <vector>

namespace {

constexpr const char* kInterface = "org.kde.StatusNotifierWatcher";
constexpr const char* kIntrospection =
    "<node><interface name='org.kde.StatusNotifierWatcher'>"
    "<method name='RegisterStatusNotifierItem'><arg type='s' direction='in'/></method>"
    "<method name='RegisterStatusNotifierHost'><arg type='s' direction='in'/></method>"
    "<property name='RegisteredStatusNotifierItems' type='as' access='read'/>"
    "<property name='IsStatusNotifierHostRegistered' type='b' access='read'/>"
    "<property name='ProtocolVersion' type='i' access='read'/>"
    "<signal name='StatusNotifierItemRegistered'><arg type='s'/></signal>"
    "<signal name='StatusNotifierHostRegistered'/>"
    "<signal name='StatusNotifierHostUnregistered'/>"
    "</interface></node>";

struct Watcher {
    GDBusConnection* bus = nullptr;
    GMainLoop* loop = nullptr;
    std::vector<std::string> items;
    bool hostRegistered = true;
};

void MethodCall(GDBusConnection*, const char* sender, const char*, const char*, const char* method,
                GVariant* parameters, GDBusMethodInvocation* invocation, gpointer data) {
    auto* watcher = static_cast<Watcher*>(data);
    if (g_strcmp0(method, "RegisterStatusNotifierItem") == 0) {
        const char* service = nullptr;
        g_variant_get(parameters, "(&s)", &service);
        // An item names its bus name or its object path; the list holds "name/path".
        const std::string item = service[0] == '/' ? std::string(sender) + service
                                                   : std::string(service) + "/StatusNotifierItem";
        watcher->items.push_back(item);
        g_dbus_connection_emit_signal(watcher->bus, nullptr, "/StatusNotifierWatcher", kInterface,
                                      "StatusNotifierItemRegistered",
                                      g_variant_new("(s)", item.c_str()), nullptr);
    }
    g_dbus_method_invocation_return_value(invocation, nullptr);
}

GVariant* GetProperty(GDBusConnection*, const char*, const char*, const char*, const char* property,
                      GError**, gpointer data) {
    auto* watcher = static_cast<Watcher*>(data);
    if (g_strcmp0(property, "IsStatusNotifierHostRegistered") == 0) {
        return g_variant_new_boolean(watcher->hostRegistered);
    }
    if (g_strcmp0(property, "ProtocolVersion") == 0) return g_variant_new_int32(0);
    GVariantBuilder items;
    g_variant_builder_init(&items, G_VARIANT_TYPE("as"));
    for (const std::string& item : watcher->items) g_variant_builder_add(&items, "s", item.c_str());
    return g_variant_builder_end(&items);
}

void SetHost(Watcher* watcher, bool registered) {
    watcher->hostRegistered = registered;
    g_dbus_connection_emit_signal(
        watcher->bus, nullptr, "/StatusNotifierWatcher", kInterface,
        registered ? "StatusNotifierHostRegistered" : "StatusNotifierHostUnregistered", nullptr,
        nullptr);
    g_dbus_connection_flush_sync(watcher->bus, nullptr, nullptr);
}

}  // namespace

int main() {
    Watcher watcher;
    watcher.bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    if (watcher.bus == nullptr) return 1;
    GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(kIntrospection, nullptr);
    const GDBusInterfaceVTable vtable{MethodCall, GetProperty, nullptr, {}};
    g_dbus_connection_register_object(watcher.bus, "/StatusNotifierWatcher", node->interfaces[0],
                                      &vtable, &watcher, nullptr, nullptr);
    g_bus_own_name_on_connection(watcher.bus, kInterface, G_BUS_NAME_OWNER_FLAGS_NONE, nullptr,
                                 nullptr, nullptr, nullptr);
    watcher.loop = g_main_loop_new(nullptr, false);
    g_unix_signal_add(
        SIGUSR1,
        [](gpointer data) -> gboolean {
            SetHost(static_cast<Watcher*>(data), false);
            return G_SOURCE_CONTINUE;
        },
        &watcher);
    g_unix_signal_add(
        SIGUSR2,
        [](gpointer data) -> gboolean {
            SetHost(static_cast<Watcher*>(data), true);
            return G_SOURCE_CONTINUE;
        },
        &watcher);
    g_unix_signal_add(
        SIGTERM,
        [](gpointer loop) -> gboolean {
            g_main_loop_quit(static_cast<GMainLoop*>(loop));
            return G_SOURCE_REMOVE;
        },
        watcher.loop);
    g_main_loop_run(watcher.loop);
    g_dbus_node_info_unref(node);
    g_object_unref(watcher.bus);
    return 0;
}
