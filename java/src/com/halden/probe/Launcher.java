package com.halden.probe;

import com.halden.probe.event.AgentThreads;
import com.halden.probe.event.EventAgent;
import com.halden.probe.event.NetworkAgent;

/**
 * Runs the native probe's whole lifecycle in the order the native side
 * expects: customServiceStart, initializeProbe, startNativeProbe, the agent
 * threads, a time of running (or a workload), stopNativeProbe, the end of the
 * agent threads, customServiceShutDown. Exits 0 when every step went well.
 *
 * <pre>
 * java -agentpath:libdatacollector.so -Dhm.home=... -cp datacollector-agent.jar \
 *     com.halden.probe.Launcher [--time ms] [--workload class] [--enable-timeout ms]
 * </pre>
 *
 * With -Xrun instead of -agentpath, the library must also be on java.library.path.
 * Every step prints a line beginning with "[launcher] ".
 */
public final class Launcher {
    /** Code run by the launcher at fixed points of the lifecycle. */
    public interface Workload {
        /** After initializeProbe, before startNativeProbe. */
        default void initialized() throws Exception {}

        /** After startNativeProbe, before the agent threads start. */
        default void started() throws Exception {}

        /** While the probe runs; the launcher stops the probe when this returns. */
        default void run() throws Exception {}

        /** After stopNativeProbe returned and the agent threads ended. */
        default void stopped() throws Exception {}

        /** After customServiceShutDown. */
        default void shutDown() throws Exception {}
    }

    /** Exit codes, one per kind of failure; the first failure decides. */
    public static final int OK = 0;
    public static final int USAGE = 64;
    public static final int SERVICE_START_FAILED = 1;
    public static final int INITIALIZE_FAILED = 2;
    public static final int AGENT_FAILED = 3;
    public static final int NOT_ENABLED = 4;
    public static final int AGENTS_DID_NOT_END = 5;
    public static final int WORKLOAD_FAILED = 6;
    public static final int NATIVE_FAILED = 7;

    private long runMillis = -1;
    private String workloadName;
    private long enableTimeoutMillis = 20000;
    private long joinTimeoutMillis = 30000;
    private int exitCode = OK;

    public static void main(String[] args) {
        Launcher launcher = new Launcher();
        int code = launcher.parse(args) ? launcher.run() : USAGE;
        say("exit " + code);
        System.exit(code);
    }

    private boolean parse(String[] args) {
        try {
            for (int i = 0; i < args.length; i++) {
                switch (args[i]) {
                    case "--time": runMillis = Long.parseLong(args[++i]); break;
                    case "--workload": workloadName = args[++i]; break;
                    case "--enable-timeout": enableTimeoutMillis = Long.parseLong(args[++i]); break;
                    case "--join-timeout": joinTimeoutMillis = Long.parseLong(args[++i]); break;
                    default: throw new IllegalArgumentException("unknown option " + args[i]);
                }
            }
        } catch (RuntimeException e) {
            say("usage: Launcher [--time ms] [--workload class] [--enable-timeout ms]"
                    + " [--join-timeout ms]: " + e.getMessage());
            return false;
        }
        if (runMillis < 0) runMillis = workloadName == null ? 1000 : 0;
        return true;
    }

    static void say(String text) {
        System.out.println("[launcher] " + text);
        System.out.flush();
    }

    private void fail(int code, String text, Throwable cause) {
        say("FAILED: " + text + (cause == null ? "" : ": " + cause));
        if (cause != null) cause.printStackTrace(System.out);
        if (exitCode == OK) exitCode = code;
    }

    private interface Step {
        void run() throws Exception;
    }

    /** Runs a step; any throwable is a failure of the given kind. */
    private boolean step(String name, int code, Step step) {
        try {
            step.run();
            return true;
        } catch (Throwable t) {
            fail(code, name, t);
            return false;
        }
    }

    int run() {
        Workload workload = new Workload() {};
        if (workloadName != null) {
            try {
                workload = (Workload) Class.forName(workloadName).getDeclaredConstructor()
                        .newInstance();
            } catch (ReflectiveOperationException | ClassCastException e) {
                fail(USAGE, "cannot make workload " + workloadName, e);
                return exitCode;
            }
        }
        final Workload w = workload;

        boolean[] loaded = {false};
        step("loading the native library", NATIVE_FAILED, () -> loaded[0] = NativeLibrary.load());
        if (!loaded[0]) return exitCode;

        boolean[] serviced = {false};
        step("customServiceStart", NATIVE_FAILED,
                () -> serviced[0] = ProbeUtils.customServiceStart());
        say("customServiceStart: " + serviced[0]);
        if (!serviced[0]) {
            fail(SERVICE_START_FAILED, "customServiceStart returned false", null);
            return exitCode;
        }

        boolean[] initialized = {false};
        step("initializeProbe", NATIVE_FAILED,
                () -> initialized[0] = ProbeSystem.initializeProbe());
        say("initializeProbe: " + initialized[0]);
        if (!initialized[0]) fail(INITIALIZE_FAILED, "initializeProbe returned false", null);
        step("workload initialized", WORKLOAD_FAILED, w::initialized);

        step("startNativeProbe", NATIVE_FAILED, ProbeController::startNativeProbe);
        say("startNativeProbe done");
        step("workload started", WORKLOAD_FAILED, w::started);

        AgentThreads[] agents = new AgentThreads[2];
        boolean agentsAvailable = startAgents(agents);
        if (agentsAvailable) waitForEnabled();

        step("workload run", WORKLOAD_FAILED, w::run);
        if (runMillis > 0) {
            step("running", WORKLOAD_FAILED, () -> Thread.sleep(runMillis));
        }

        say("stopNativeProbe");
        long stopStart = System.nanoTime();
        step("stopNativeProbe", NATIVE_FAILED, ProbeController::stopNativeProbe);
        say("stopNativeProbe returned after " + (System.nanoTime() - stopStart) / 1000000
                + " ms");
        endAgents(agents);
        step("workload stopped", WORKLOAD_FAILED, w::stopped);

        step("customServiceShutDown", NATIVE_FAILED, ProbeUtils::customServiceShutDown);
        say("customServiceShutDown done");
        step("workload shutDown", WORKLOAD_FAILED, w::shutDown);
        return exitCode;
    }

    /** Starts the event agent threads, then the network agent threads. */
    private boolean startAgents(AgentThreads[] agents) {
        try {
            agents[0] = EventAgent.startAgentThreads();
            say("event agent threads: " + agents[0].count());
            agents[1] = NetworkAgent.startAgentThreads();
            say("network agent threads: " + agents[1].count());
            return true;
        } catch (UnsatisfiedLinkError e) {
            // A library without publishing: the probe runs but is never enabled.
            say("agent natives not available: " + e.getMessage());
            return false;
        } catch (Throwable t) {
            fail(AGENT_FAILED, "starting the agent threads", t);
            return false;
        }
    }

    private void waitForEnabled() {
        long start = System.nanoTime();
        long deadline = start + enableTimeoutMillis * 1000000L;
        try {
            while (!ProbeController.isNativeProbeEnabled()) {
                if (System.nanoTime() > deadline) {
                    fail(NOT_ENABLED, "probe not enabled within " + enableTimeoutMillis + " ms",
                            null);
                    return;
                }
                Thread.sleep(10);
            }
            say("probe enabled after " + (System.nanoTime() - start) / 1000000 + " ms");
        } catch (Throwable t) {
            fail(NATIVE_FAILED, "isNativeProbeEnabled", t);
        }
    }

    /**
     * The stop order has already asked every agent to stop and waited while
     * any was alive; their threads end here. An agent still in its loop is
     * asked once more before it counts as a failure.
     */
    private void endAgents(AgentThreads[] agents) {
        int total = 0;
        int alive = 0;
        for (AgentThreads group : agents) {
            if (group == null) continue;
            try {
                if (!group.join(joinTimeoutMillis)) {
                    say(group.kind() + ": " + group.alive() + " thread(s) still alive, asking"
                            + " them to stop");
                    group.requestStop();
                    group.join(5000);
                }
            } catch (Throwable t) {
                fail(AGENTS_DID_NOT_END, "waiting for " + group.kind() + " threads", t);
            }
            for (Throwable failure : group.failures()) {
                fail(AGENT_FAILED, group.kind() + " thread", failure);
            }
            total += group.count();
            alive += group.alive();
        }
        say("agent threads ended: " + (total - alive) + " of " + total);
        if (alive > 0) fail(AGENTS_DID_NOT_END, alive + " agent thread(s) did not end", null);
    }
}
