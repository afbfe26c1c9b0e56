package com.halden.agent;

import java.util.Set;
import java.util.concurrent.ConcurrentHashMap;

/** The agent's lines on standard error, each beginning with "[halden-agent] ". */
public final class AgentLog {
    private static final Set<String> SAID = ConcurrentHashMap.newKeySet();

    private AgentLog() {}

    public static void say(String text) {
        System.err.println("[halden-agent] " + text);
    }

    /** Says the text only the first time for the given key. */
    public static void once(String key, String text) {
        if (SAID.size() < 10000 && SAID.add(key)) say(text);
    }
}
