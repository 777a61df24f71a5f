// A session manager of the desktop tests' own (X Session Management Protocol, libSM): prints the
// address of its local socket for SESSION_MANAGER; on SIGUSR1 asks every client that registered
// to save its state, as a session save that ends nothing does, and prints "saved" on standard
// output when a client is done. Runs until SIGTERM.

#include <X11/ICE/ICElib.h>
#include <X11/SM/SMlib.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::vector<SmsConn> registered;
volatile sig_atomic_t saveAsked = 0;

Bool AnyLocalClient(char*) {
    return True;  // only the local socket's address is given out
}

Status RegisterClient(SmsConn connection, SmPointer, char* previousId) {
    free(previousId);
    char* id = SmsGenerateClientID(connection);
    SmsRegisterClientReply(connection, id);
    free(id);
    registered.push_back(connection);
    return 1;
}

void SaveYourselfDone(SmsConn connection, SmPointer, Bool) {
    std::printf("saved\n");
    std::fflush(stdout);
    SmsSaveComplete(connection);
}

void SaveYourselfPhase2Request(SmsConn connection, SmPointer) {
    SmsSaveYourselfPhase2(connection);
}

void InteractRequest(SmsConn, SmPointer, int) {}
void InteractDone(SmsConn, SmPointer, Bool) {}
void SaveYourselfRequest(SmsConn, SmPointer, int, Bool, int, Bool, Bool) {}

// The connection itself goes when the client closes its end.
void CloseConnection(SmsConn connection, SmPointer, int count, char** reasons) {
    SmFreeReasons(count, reasons);
    std::erase(registered, connection);
    SmsCleanUp(connection);
}

void SetProperties(SmsConn, SmPointer, int count, SmProp** properties) {
    for (int i = 0; i < count; ++i) SmFreeProperty(properties[i]);
    free(properties);
}

void DeleteProperties(SmsConn, SmPointer, int count, char** names) {
    for (int i = 0; i < count; ++i) free(names[i]);
    free(names);
}

void GetProperties(SmsConn connection, SmPointer) {
    SmsReturnProperties(connection, 0, nullptr);
}

Status NewClient(SmsConn, SmPointer, unsigned long* mask, SmsCallbacks* callbacks, char**) {
    *mask = SmsRegisterClientProcMask | SmsInteractRequestProcMask | SmsInteractDoneProcMask |
            SmsSaveYourselfRequestProcMask | SmsSaveYourselfP2RequestProcMask |
            SmsSaveYourselfDoneProcMask | SmsCloseConnectionProcMask | SmsSetPropertiesProcMask |
            SmsDeletePropertiesProcMask | SmsGetPropertiesProcMask;
    callbacks->register_client = {RegisterClient, nullptr};
    callbacks->interact_request = {InteractRequest, nullptr};
    callbacks->interact_done = {InteractDone, nullptr};
    callbacks->save_yourself_request = {SaveYourselfRequest, nullptr};
    callbacks->save_yourself_phase2_request = {SaveYourselfPhase2Request, nullptr};
    callbacks->save_yourself_done = {SaveYourselfDone, nullptr};
    callbacks->close_connection = {CloseConnection, nullptr};
    callbacks->set_properties = {SetProperties, nullptr};
    callbacks->delete_properties = {DeleteProperties, nullptr};
    callbacks->get_properties = {GetProperties, nullptr};
    return 1;
}

}  // namespace

int main() {
    char error[256] = {};
    int count = 0;
    IceListenObj* listeners = nullptr;
    if (!SmsInitialize("nodrel-test", "1.0", NewClient, nullptr, AnyLocalClient, sizeof error,
                       error) ||
        !IceListenForConnections(&count, &listeners, sizeof error, error)) {
        std::fprintf(stderr, "session manager: %s\n", error);
        return 1;
    }
    std::string local;
    for (int i = 0; i < count; ++i) {
        IceSetHostBasedAuthProc(listeners[i], AnyLocalClient);
        char* address = IceGetListenConnectionString(listeners[i]);
        if (local.empty() && std::strncmp(address, "local/", 6) == 0) local = address;
        // The socket in /tmp/.ICE-unix, not its abstract twin: that one is not seen from outside
        // the network namespace.
        if (const size_t at = local.find(":@/"); at != std::string::npos) local.erase(at + 1, 1);
        free(address);
    }
    if (local.empty()) return 1;
    std::printf("%s\n", local.c_str());
    std::fflush(stdout);

    // Ended by a signal, the sockets go with their files.
    struct sigaction handling {};
    handling.sa_handler = [](int) {};
    sigaction(SIGTERM, &handling, nullptr);
    handling.sa_handler = [](int) { saveAsked = 1; };
    sigaction(SIGUSR1, &handling, nullptr);
    // Heard only while waiting, so that none is lost between two waits.
    sigset_t heard, waiting;
    sigemptyset(&heard);
    sigaddset(&heard, SIGTERM);
    sigaddset(&heard, SIGUSR1);
    sigprocmask(SIG_BLOCK, &heard, &waiting);
    // libICE's own handler ends the process when a client goes away.
    IceSetIOErrorHandler([](IceConn) {});
    std::vector<IceConn> clients;
    for (;;) {
        std::vector<pollfd> watched;
        for (int i = 0; i < count; ++i) {
            watched.push_back({IceGetListenConnectionNumber(listeners[i]), POLLIN, 0});
        }
        for (IceConn client : clients) watched.push_back({IceConnectionNumber(client), POLLIN, 0});
        if (ppoll(watched.data(), watched.size(), nullptr, &waiting) < 0) {
            if (!saveAsked) break;
            saveAsked = 0;
            for (SmsConn client : registered) {
                SmsSaveYourself(client, SmSaveBoth, False, SmInteractStyleNone, False);
            }
            continue;
        }
        // Clients accepted below were not watched in this round.
        const size_t watchedClients = clients.size();
        for (int i = 0; i < count; ++i) {
            if (!watched[i].revents) continue;
            IceAcceptStatus accepted;
            IceConn client = IceAcceptConnection(listeners[i], &accepted);
            if (!client) continue;
            IceConnectStatus status;
            while ((status = IceConnectionStatus(client)) == IceConnectPending) {
                IceProcessMessages(client, nullptr, nullptr);
            }
            if (status == IceConnectAccepted) {
                clients.push_back(client);
            } else {
                IceCloseConnection(client);
            }
        }
        for (size_t i = 0; i < watchedClients; ++i) {
            if (!watched[count + i].revents) continue;
            if (IceProcessMessages(clients[i], nullptr, nullptr) == IceProcessMessagesIOError) {
                IceSetShutdownNegotiation(clients[i], False);
                IceCloseConnection(clients[i]);
                clients.erase(clients.begin() + long(i));
                break;
            }
        }
    }
    IceFreeListenObjs(count, listeners);
    unlink(local.substr(local.find(':') + 1).c_str());  // libICE leaves its socket's file
    return 0;
}
