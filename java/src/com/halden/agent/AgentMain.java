package com.halden.agent;

import java.lang.instrument.Instrumentation;
import java.nio.file.Paths;
import java.util.jar.JarFile;

/**
 * The {@code Premain-Class} of the agent jar. The jar belongs on the bootstrap
 * class path, so that instrumented code in every class loader (the JDK's
 * own HTTP client, a server's, a web application's) and the library's own
 * look-ups at JVM start reach one copy of the agent's classes. The manifest's
 * Boot-Class-Path puts it there before any Java code runs; a jar renamed
 * since is put there now. The agent then starts from there. This class names
 * no other class of the jar, so that none of them is loaded from the system
 * class path first.
 */
public final class AgentMain {
    private AgentMain() {}

    public static void premain(String args, Instrumentation inst) {
        try {
            if (AgentMain.class.getClassLoader() != null) {
                String jar = Paths.get(AgentMain.class.getProtectionDomain().getCodeSource()
                        .getLocation().toURI()).toString();
                inst.appendToBootstrapClassLoaderSearch(new JarFile(jar));
            }
            Class.forName("com.halden.agent.Agent", true, null)
                    .getMethod("start", String.class, Instrumentation.class)
                    .invoke(null, args, inst);
        } catch (Throwable t) {
            // The application runs unmonitored rather than not at all.
            System.err.println("[halden-agent] not started: " + t);
        }
    }
}
