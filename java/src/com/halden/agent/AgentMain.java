package com.halden.agent;

import java.lang.instrument.Instrumentation;
import java.nio.file.Paths;
import java.util.jar.JarFile;

/**
 * The {@code Premain-Class} of the agent jar. It puts the jar on the bootstrap
 * class path, so that instrumented code in every class loader (the JDK's
 * own HTTP client, a server's, a web application's) reaches the same hook
 * classes and natives, and then starts the agent from there. It names no
 * other class of the jar, so that none of them is loaded from the system
 * class path before the jar is on the bootstrap path.
 */
public final class AgentMain {
    private AgentMain() {}

    public static void premain(String args, Instrumentation inst) {
        try {
            String jar = Paths.get(AgentMain.class.getProtectionDomain().getCodeSource()
                    .getLocation().toURI()).toString();
            inst.appendToBootstrapClassLoaderSearch(new JarFile(jar));
            Class.forName("com.halden.agent.Agent", true, null)
                    .getMethod("start", String.class, Instrumentation.class)
                    .invoke(null, args, inst);
        } catch (Throwable t) {
            // The application runs unmonitored rather than not at all.
            System.err.println("[halden-agent] not started: " + t);
        }
    }
}
