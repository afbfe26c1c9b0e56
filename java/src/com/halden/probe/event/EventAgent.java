package com.halden.probe.event;

/** The event agents, which drain the native per-thread event queues into packets. */
public final class EventAgent {
    private EventAgent() {}

    public static native int getEvtAgentCount();
    /** Runs agent {@code id}'s loop on the calling thread until the agent stops. */
    public static native void startThread(int id);
    public static native void stopThread(int id);

    /** Starts one thread per event agent, each running its agent's loop. */
    public static AgentThreads startAgentThreads() {
        return new AgentThreads("EventAgent", getEvtAgentCount(), EventAgent::startThread,
                EventAgent::stopThread);
    }
}
