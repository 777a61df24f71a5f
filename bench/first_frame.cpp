// Starts a program and prints how long its window took to be mapped and painted: the
// milliseconds from just before the program starts to the first drawing into a top-level window
// whose title begins with the given text, as the X server's Damage extension reports it. Then
// ends the program (SIGTERM) and waits for it.
//   first_frame <title prefix> <program> [arguments...]
// Exit status 0 with the figure on stdout, 1 when no such window was painted within 20 s.

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/damage.h>
#include <xcb/xcb.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;

xcb_atom_t Atom(xcb_connection_t* connection, const char* name) {
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 0, std::strlen(name), name), nullptr);
    const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
    free(reply);
    return atom;
}

std::string Title(xcb_connection_t* connection, xcb_window_t window, xcb_atom_t property) {
    xcb_get_property_reply_t* reply = xcb_get_property_reply(
        connection, xcb_get_property(connection, 0, window, property, XCB_ATOM_ANY, 0, 256),
        nullptr);
    std::string title;
    if (reply) {
        title.assign(static_cast<const char*>(xcb_get_property_value(reply)),
                     xcb_get_property_value_length(reply));
        free(reply);
    }
    return title;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s <title prefix> <program> [arguments...]\n", argv[0]);
        return 2;
    }
    const std::string prefix = argv[1];
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(connection)) {
        std::fprintf(stderr, "no X display\n");
        return 2;
    }
    const xcb_query_extension_reply_t* damage = xcb_get_extension_data(connection, &xcb_damage_id);
    if (!damage || !damage->present) {
        std::fprintf(stderr, "the X server has no Damage extension\n");
        return 2;
    }
    free(xcb_damage_query_version_reply(connection, xcb_damage_query_version(connection, 1, 1),
                                        nullptr));
    const xcb_atom_t netWmName = Atom(connection, "_NET_WM_NAME");
    xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    const uint32_t rootMask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(connection, root, XCB_CW_EVENT_MASK, &rootMask);
    xcb_flush(connection);

    const Clock::time_point start = Clock::now();
    const pid_t child = fork();
    if (child == 0) {
        // The program's own output would mix with the figure.
        if (freopen("/dev/null", "w", stdout) == nullptr) _exit(127);
        execvp(argv[2], argv + 2);
        _exit(127);
    }

    std::map<xcb_window_t, bool> titled;  // every window the program made, and whether it matches
    auto check = [&](xcb_window_t window) {
        titled[window] = Title(connection, window, netWmName).starts_with(prefix) ||
                         Title(connection, window, XCB_ATOM_WM_NAME).starts_with(prefix);
    };
    double milliseconds = -1;
    const Clock::time_point deadline = start + std::chrono::seconds(20);
    pollfd descriptor{xcb_get_file_descriptor(connection), POLLIN, 0};
    while (milliseconds < 0 && Clock::now() < deadline) {
        xcb_generic_event_t* event = xcb_poll_for_event(connection);
        if (!event) {
            poll(&descriptor, 1, 100);
            continue;
        }
        const uint8_t type = event->response_type & 0x7f;
        if (type == XCB_CREATE_NOTIFY) {
            const auto* created = reinterpret_cast<xcb_create_notify_event_t*>(event);
            const xcb_window_t window = created->window;
            const uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
            xcb_change_window_attributes(connection, window, XCB_CW_EVENT_MASK, &mask);
            xcb_damage_create(connection, xcb_generate_id(connection), window,
                              XCB_DAMAGE_REPORT_LEVEL_NON_EMPTY);
            check(window);
        } else if (type == XCB_PROPERTY_NOTIFY) {
            const auto* changed = reinterpret_cast<xcb_property_notify_event_t*>(event);
            if (titled.contains(changed->window)) check(changed->window);
        } else if (type == damage->first_event + XCB_DAMAGE_NOTIFY) {
            const auto* damaged = reinterpret_cast<xcb_damage_notify_event_t*>(event);
            const auto found = titled.find(damaged->drawable);
            if (found != titled.end() && found->second) {
                milliseconds =
                    std::chrono::duration<double, std::milli>(Clock::now() - start).count();
            }
        }
        free(event);
    }
    kill(child, SIGTERM);
    waitpid(child, nullptr, 0);
    xcb_disconnect(connection);
    if (milliseconds < 0) {
        std::fprintf(stderr, "no window titled \"%s...\" was painted\n", prefix.c_str());
        return 1;
    }
    std::printf("%.1f\n", milliseconds);
    return 0;
}
