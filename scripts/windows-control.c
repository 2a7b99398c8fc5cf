/* Helper for the Wine service test.
 *   control keep                  sleeps until killed (Wine ends every service
 *                                 once its last ordinary process exits)
 *   control pause|continue|stop NAME
 *                                 sends the control and waits for the state
 *   control state NAME            prints the current state
 * Exits 0 on success, 1 with a message otherwise. */
#include <windows.h>
#include <stdio.h>
#include <string.h>

static const char* StateName(DWORD state) {
    switch (state) {
        case SERVICE_STOPPED: return "STOPPED";
        case SERVICE_START_PENDING: return "START_PENDING";
        case SERVICE_STOP_PENDING: return "STOP_PENDING";
        case SERVICE_RUNNING: return "RUNNING";
        case SERVICE_CONTINUE_PENDING: return "CONTINUE_PENDING";
        case SERVICE_PAUSE_PENDING: return "PAUSE_PENDING";
        case SERVICE_PAUSED: return "PAUSED";
        default: return "UNKNOWN";
    }
}

int main(int argc, char** argv) {
    if (argc == 2 && strcmp(argv[1], "keep") == 0) {
        for (;;) Sleep(1000);
    }
    if (argc != 3) {
        fprintf(stderr, "usage: control keep | pause|continue|stop|state NAME\n");
        return 1;
    }
    SC_HANDLE manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_CONNECT);
    if (!manager) {
        fprintf(stderr, "OpenSCManager: %lu\n", GetLastError());
        return 1;
    }
    SC_HANDLE service = OpenServiceA(manager, argv[2], SERVICE_ALL_ACCESS);
    if (!service) {
        fprintf(stderr, "OpenService: %lu\n", GetLastError());
        return 1;
    }
    SERVICE_STATUS status;
    DWORD control = 0, target = 0;
    if (strcmp(argv[1], "pause") == 0) control = SERVICE_CONTROL_PAUSE, target = SERVICE_PAUSED;
    else if (strcmp(argv[1], "continue") == 0) control = SERVICE_CONTROL_CONTINUE, target = SERVICE_RUNNING;
    else if (strcmp(argv[1], "stop") == 0) control = SERVICE_CONTROL_STOP, target = SERVICE_STOPPED;
    if (control == 0) {
        if (!QueryServiceStatus(service, &status)) {
            fprintf(stderr, "QueryServiceStatus: %lu\n", GetLastError());
            return 1;
        }
        printf("%s\n", StateName(status.dwCurrentState));
        return 0;
    }
    if (!ControlService(service, control, &status)) {
        fprintf(stderr, "ControlService: %lu\n", GetLastError());
        return 1;
    }
    for (int i = 0; i < 300; ++i) {  /* up to 30 s */
        if (QueryServiceStatus(service, &status) && status.dwCurrentState == target) {
            printf("%s\n", StateName(target));
            return 0;
        }
        Sleep(100);
    }
    fprintf(stderr, "still %s\n", StateName(status.dwCurrentState));
    return 1;
}
