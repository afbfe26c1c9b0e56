package com.halden.probe.event;

/** The network agents, which send the event packets to the publishing server. */
public final class NetworkAgent {
    private NetworkAgent() {}

    public static native int getNetAgentCount();
    /** Runs agent {@code id}'s loop on the calling thread until the agent stops. */
    public static native void startThread(int id);
    public static native void stopThread(int id);

    /** Starts one thread per network agent, each running its agent's loop. */
    public static AgentThreads startAgentThreads() {
        return new AgentThreads("NetworkAgent", getNetAgentCount(), NetworkAgent::startThread,
                NetworkAgent::stopThread);
    }
}
