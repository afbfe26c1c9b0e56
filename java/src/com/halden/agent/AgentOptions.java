package com.halden.agent;

import java.util.Locale;

/**
 * What the agent instruments. Each switch is on unless the agent argument
 * (comma-separated, e.g. {@code -javaagent:datacollector-agent.jar=jdbc=off})
 * or the system property {@code hm.agent.<name>} turns it off; the argument
 * wins. {@code enableWaitMillis} bounds how long start-up waits for the probe
 * to be ready before the application's main runs.
 */
public final class AgentOptions {
    public final boolean servlet;
    public final boolean jdbc;
    public final boolean httpClient;
    public final long enableWaitMillis;
    public final String gpsMask;

    AgentOptions(String args) {
        servlet = flag(args, "servlet");
        jdbc = flag(args, "jdbc");
        httpClient = flag(args, "httpclient");
        long wait = 10000;
        try {
            wait = Long.parseLong(value(args, "enablewait", "10000"));
        } catch (NumberFormatException e) {
            AgentLog.say("enablewait is not a number; waiting " + wait + " ms");
        }
        enableWaitMillis = wait;
        gpsMask = value(args, "gpsmask", "1");
    }

    private static boolean flag(String args, String name) {
        String v = value(args, name, "on").toLowerCase(Locale.ROOT);
        return !(v.equals("off") || v.equals("false") || v.equals("no") || v.equals("0"));
    }

    /** The agent argument's value for name, else the property hm.agent.name, else dflt. */
    private static String value(String args, String name, String dflt) {
        if (args != null) {
            for (String part : args.split(",")) {
                int eq = part.indexOf('=');
                if (eq > 0 && part.substring(0, eq).trim().equalsIgnoreCase(name)) {
                    return part.substring(eq + 1).trim();
                }
            }
        }
        return System.getProperty("hm.agent." + name, dflt);
    }

    @Override
    public String toString() {
        return "servlet=" + onOff(servlet) + ",jdbc=" + onOff(jdbc) + ",httpclient="
                + onOff(httpClient);
    }

    private static String onOff(boolean on) {
        return on ? "on" : "off";
    }
}
