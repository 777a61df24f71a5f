// A window manager that takes its time: it maps each window 40 pixels right of and 30 below the
// place the window asks for, and moves it there half a second later, as a loaded manager framing
// a window passes through places of its own. Other requests are granted as asked.

#include <poll.h>
#include <xcb/xcb.h>

#include <chrono>
#include <cstdlib>
#include <map>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Move {
    Clock::time_point due;
    uint32_t x, y;
};

// The request's values in the order of the bits of its mask.
std::vector<uint32_t> Values(const xcb_configure_request_event_t& request) {
    const std::pair<uint16_t, uint32_t> fields[] = {
        {XCB_CONFIG_WINDOW_X, uint32_t(request.x)},
        {XCB_CONFIG_WINDOW_Y, uint32_t(request.y)},
        {XCB_CONFIG_WINDOW_WIDTH, request.width},
        {XCB_CONFIG_WINDOW_HEIGHT, request.height},
        {XCB_CONFIG_WINDOW_BORDER_WIDTH, request.border_width},
        {XCB_CONFIG_WINDOW_SIBLING, request.sibling},
        {XCB_CONFIG_WINDOW_STACK_MODE, request.stack_mode}};
    std::vector<uint32_t> values;
    for (const auto& [bit, value] : fields) {
        if (request.value_mask & bit) values.push_back(value);
    }
    return values;
}

}  // namespace

int main() {
    xcb_connection_t* x = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(x)) return 1;
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(x)).data->root;
    const uint32_t redirect = XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT;
    xcb_generic_error_t* taken = xcb_request_check(
        x, xcb_change_window_attributes_checked(x, root, XCB_CW_EVENT_MASK, &redirect));
    if (taken != nullptr) return 1;  // another manager runs
    // Said as EWMH managers say it, on the root and on a window of the manager's own.
    const char name[] = "_NET_SUPPORTING_WM_CHECK";
    xcb_intern_atom_reply_t* check =
        xcb_intern_atom_reply(x, xcb_intern_atom(x, 0, sizeof name - 1, name), nullptr);
    const xcb_window_t own = xcb_generate_id(x);
    xcb_create_window(x, 0, own, root, 0, 0, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_ONLY,
                      XCB_COPY_FROM_PARENT, 0, nullptr);
    for (const xcb_window_t window : {root, own}) {
        xcb_change_property(x, XCB_PROP_MODE_REPLACE, window, check->atom, XCB_ATOM_WINDOW, 32, 1,
                            &own);
    }
    free(check);
    xcb_flush(x);

    std::map<xcb_window_t, Move> moves;
    while (!xcb_connection_has_error(x)) {
        pollfd connection{xcb_get_file_descriptor(x), POLLIN, 0};
        poll(&connection, 1, moves.empty() ? -1 : 50);
        while (xcb_generic_event_t* event = xcb_poll_for_event(x)) {
            if ((event->response_type & 0x7F) == XCB_MAP_REQUEST) {
                const xcb_window_t window =
                    reinterpret_cast<xcb_map_request_event_t*>(event)->window;
                xcb_get_geometry_reply_t* asked =
                    xcb_get_geometry_reply(x, xcb_get_geometry(x, window), nullptr);
                if (asked != nullptr) {
                    const uint32_t elsewhere[] = {uint32_t(asked->x + 40), uint32_t(asked->y + 30)};
                    xcb_configure_window(x, window, XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y,
                                         elsewhere);
                    moves[window] = {Clock::now() + std::chrono::milliseconds(500),
                                     uint32_t(asked->x), uint32_t(asked->y)};
                }
                free(asked);
                xcb_map_window(x, window);
            } else if ((event->response_type & 0x7F) == XCB_CONFIGURE_REQUEST) {
                const auto* request = reinterpret_cast<xcb_configure_request_event_t*>(event);
                xcb_configure_window(x, request->window, request->value_mask,
                                     Values(*request).data());
            }
            free(event);
        }
        for (auto move = moves.begin(); move != moves.end();) {
            if (move->second.due > Clock::now()) {
                ++move;
                continue;
            }
            const uint32_t place[] = {move->second.x, move->second.y};
            xcb_configure_window(x, move->first, XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y, place);
            move = moves.erase(move);
        }
        xcb_flush(x);
    }
    return 0;
}
