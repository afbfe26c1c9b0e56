package com.halden.agent;

import com.halden.agent.weave.Transformer;
import com.halden.probe.NativeLibrary;
import com.halden.probe.ProbeController;
import com.halden.probe.ProbeSystem;
import com.halden.probe.ProbeUtils;
import com.halden.probe.event.AgentThreads;
import com.halden.probe.event.EventAgent;
import com.halden.probe.event.NetworkAgent;
import java.lang.instrument.Instrumentation;
import java.util.ArrayList;
import java.util.List;

/**
 * The agent inside a server: starts the native probe in the order it expects
 * (customServiceStart, initializeProbe, startNativeProbe, the agent threads),
 * waits a bounded time for it to be ready, instruments servlets, JDBC and
 * outgoing HTTP calls, and stops the probe when the JVM shuts down, so that
 * the last records still reach the collector. Without the native library
 * (no -agentpath) it instruments nothing and the server runs as it would
 * without the agent.
 */
public final class Agent {
    private Agent() {}

    private static final List<AgentThreads> AGENTS = new ArrayList<>();

    public static void start(String args, Instrumentation inst) {
        AgentOptions options = new AgentOptions(args);
        try {
            if (!NativeLibrary.load()) throw new UnsatisfiedLinkError("natives not bound");
        } catch (Throwable t) {
            AgentLog.say("the native library is not loaded (start the JVM with"
                    + " -agentpath:<dir>/libdatacollector.so); nothing is instrumented: " + t);
            return;
        }
        if (!startProbe(options)) return;
        Transformer transformer = new Transformer(options);
        inst.addTransformer(transformer, inst.isRetransformClassesSupported());
        Hooks.activate();
        transformer.retransformLoaded(inst);
        Runtime.getRuntime().addShutdownHook(new Thread(Agent::stop, "halden-agent-stop"));
        AgentLog.say("instrumenting " + options);
    }

    private static boolean startProbe(AgentOptions options) {
        try {
            if (!ProbeUtils.customServiceStart()) {
                AgentLog.say("customServiceStart failed; the probe is not started");
                return false;
            }
            if (!ProbeSystem.initializeProbe()) AgentLog.say("initializeProbe failed");
            ProbeController.startNativeProbe();
            ProbeController.setupGps(options.gpsMask);
            AGENTS.add(EventAgent.startAgentThreads());
            AGENTS.add(NetworkAgent.startAgentThreads());
        } catch (Throwable t) {
            AgentLog.say("the probe did not start: " + t);
            return false;
        }
        long start = System.nanoTime();
        long deadline = start + options.enableWaitMillis * 1000000L;
        try {
            while (!ProbeController.isNativeProbeEnabled()) {
                if (System.nanoTime() > deadline) {
                    AgentLog.say("the probe is not ready after " + options.enableWaitMillis
                            + " ms (is the collector reachable?); requests before it is are"
                            + " not recorded");
                    return true;
                }
                Thread.sleep(10);
            }
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
        }
        AgentLog.say("probe ready after " + (System.nanoTime() - start) / 1000000 + " ms");
        return true;
    }

    /** The stop order waits for the agents' last cycles, then the service ends. */
    private static void stop() {
        try {
            Hooks.deactivate();
            ProbeController.stopNativeProbe();
            for (AgentThreads group : AGENTS) {
                if (!group.join(5000)) group.requestStop();
            }
            ProbeUtils.customServiceShutDown();
            AgentLog.say("probe stopped");
        } catch (Throwable t) {
            AgentLog.say("stopping the probe failed: " + t);
        }
    }
}
