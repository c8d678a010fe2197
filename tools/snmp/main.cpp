// raidc-snmp: an AgentX subagent that publishes RAIDC-MIB from the
// library's cache to the host's SNMP master agent.
#include "raidc_mib.h"
#include "raidcommon.h"

#include <net-snmp/agent/net-snmp-agent-includes.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace {

volatile sig_atomic_t keepRunning = 1;
volatile sig_atomic_t testRequested = 0;

void stop(int)
{
    keepRunning = 0;
}

void requestTest(int)
{
    testRequested = 1;
}

int usage(FILE *to, int status)
{
    fprintf(to, "usage: raidc-snmp [-f] [-x SOCKET] [-i SECONDS] [-w SECONDS] [-L LOGOPTS] [-p PIDFILE] | -V\n"
                "  -f          stay in the foreground (default: run as a daemon)\n"
                "  -x SOCKET   the master agent's AgentX socket (default: net-snmp's)\n"
                "  -i SECONDS  how often to check the master agent and reconnect (default 5)\n"
                "  -w SECONDS  how often to look for changes to notify (default 2, fractions allowed)\n"
                "  -L LOGOPTS  where to log, as snmpd -L takes it (e, o, s FACILITY, f FILE...);\n"
                "              default: standard error in the foreground, syslog as a daemon\n"
                "  -p PIDFILE  write the process id to PIDFILE\n"
                "  -V          print the version and exit\n"
                "SIGUSR1 sends one raidcTestNotification per controller.\n");
    return status;
}

} // namespace

int main(int argc, char **argv)
{
    bool foreground = false, logChosen = false;
    const char *socket = nullptr, *pidFile = nullptr;
    long interval = 5, watchMs = 2000;
    int opt;
    while ((opt = getopt(argc, argv, "fx:i:w:L:p:hV")) != -1) {
        switch (opt) {
        case 'f': foreground = true; break;
        case 'x': socket = optarg; break;
        case 'p': pidFile = optarg; break;
        case 'i': {
            char *end;
            interval = strtol(optarg, &end, 10);
            if (*end || interval < 1 || interval > 3600) {
                fprintf(stderr, "raidc-snmp: -i takes whole seconds from 1 to 3600\n");
                return usage(stderr, 2);
            }
            break;
        }
        case 'w': {
            char *end;
            double w = strtod(optarg, &end);
            if (*end || end == optarg || !(w >= 0.05 && w <= 3600)) {
                fprintf(stderr, "raidc-snmp: -w takes seconds from 0.05 to 3600\n");
                return usage(stderr, 2);
            }
            watchMs = static_cast<long>(w * 1000);
            break;
        }
        case 'L':
            if (snmp_log_options(optarg, argc, argv) < 0)
                return usage(stderr, 2);
            logChosen = true;
            break;
        case 'h': return usage(stdout, 0);
        case 'V':
            printf("raidc-snmp %s (library %s, net-snmp %s)\n", RAIDC_VERSION_STRING, RaidC_GetVersion(),
                   netsnmp_get_version());
            return 0;
        default: return usage(stderr, 2);
        }
    }
    if (optind != argc)
        return usage(stderr, 2);
    if (!logChosen) {
        if (foreground)
            snmp_enable_stderrlog();
        else
            snmp_enable_syslog_ident("raidc-snmp", LOG_DAEMON);
    }

    netsnmp_ds_set_boolean(NETSNMP_DS_APPLICATION_ID, NETSNMP_DS_AGENT_ROLE, 1);
    if (socket)
        netsnmp_ds_set_string(NETSNMP_DS_APPLICATION_ID, NETSNMP_DS_AGENT_X_SOCKET, socket);
    // Nothing to keep across runs, and no MIB text is needed to serve.
    netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DONT_PERSIST_STATE, 1);
    setenv("MIBS", "", 1);
    // Alarms (the change poll, the AgentX ping) run from the main loop, not
    // from a signal handler.
    netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_ALARM_DONT_USE_SIG, 1);

    // Caught from here on, so that a stop while starting still ends cleanly.
    struct sigaction sa = {};
    sa.sa_handler = stop;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    sa.sa_handler = requestTest;
    sigaction(SIGUSR1, &sa, nullptr);
    if (!foreground && netsnmp_daemonize(1, snmp_stderrlog_status()) != 0)
        return 1;
    init_agent("raidc-snmp");
    // Without a ping the subagent would not notice a restarted master; the
    // agent library sets its own default while it starts.
    netsnmp_ds_set_int(NETSNMP_DS_APPLICATION_ID, NETSNMP_DS_AGENT_AGENTX_PING_INTERVAL, static_cast<int>(interval));
    if (!raidcsnmp::registerRaidcMib()) {
        snmp_log(LOG_ERR, "raidc-snmp: cannot register RAIDC-MIB\n");
        return 1;
    }
    init_snmp("raidc-snmp");
    raidcsnmp::registerSysOr();
    if (!raidcsnmp::startNotifications(watchMs)) {
        snmp_log(LOG_ERR, "raidc-snmp: cannot start watching for changes\n");
        snmp_shutdown("raidc-snmp");
        return 1;
    }
    if (pidFile) {
        FILE *f = fopen(pidFile, "w");
        if (!f) {
            snmp_log(LOG_ERR, "raidc-snmp: cannot write %s\n", pidFile);
            snmp_shutdown("raidc-snmp");
            return 1;
        }
        fprintf(f, "%d\n", static_cast<int>(getpid()));
        fclose(f);
    }

    snmp_log(LOG_INFO, "raidc-snmp: serving RAIDC-MIB\n");
    while (keepRunning) {
        agent_check_and_process(1); // a signal ends its wait
        if (testRequested) {
            testRequested = 0;
            raidcsnmp::sendTestNotifications();
        }
    }

    snmp_log(LOG_INFO, "raidc-snmp: stopping\n");
    raidcsnmp::stopNotifications();
    raidcsnmp::forgetRows();
    snmp_shutdown("raidc-snmp");
    if (pidFile)
        unlink(pidFile);
    return 0;
}
