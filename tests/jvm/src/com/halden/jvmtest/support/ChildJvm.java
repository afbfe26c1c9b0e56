package com.halden.jvmtest.support;

import java.io.File;
import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;
import java.util.concurrent.TimeUnit;

/**
 * Starts a child JVM with the native library attached, the agent jar and the
 * test classes on its class path and a temporary home directory, waits for it
 * and collects its output.
 *
 * <p>The build tree comes from the system property dc.build.dir (holding
 * libdatacollector.so and datacollector-agent.jar), the test classes from
 * dc.test.jar, the java executable from dc.java (default: this JVM's).
 */
public final class ChildJvm {
    /** How the JVM is told to load the library. */
    public enum Loading {
        /** -agentpath:&lt;library&gt;[=options] */
        AGENTPATH,
        /** -Xrundatacollector[:options], with the library's directory on the library path. */
        XRUN,
        /** Not at all. */
        NONE
    }

    public static final String LAUNCHER = "com.halden.probe.Launcher";
    public static final String NODE = "n";
    public static final String SERVER = "s";

    private static int runs;

    private final TempHome home;
    private Loading loading = Loading.AGENTPATH;
    private String agentOptions;
    private final Map<String, String> properties = new LinkedHashMap<>();
    private final List<String> jvmArgs = new ArrayList<>();
    private final List<String> classPathFirst = new ArrayList<>();
    private final Map<String, String> environment = new LinkedHashMap<>();
    private String mainClass = LAUNCHER;
    private final List<String> args = new ArrayList<>();
    private final long timeoutSeconds = 180;

    private ChildJvm(TempHome home) {
        this.home = home;
        properties.put("hm.home", home.path().toString());
        properties.put("hm.nodename", NODE);
        properties.put("hm.appserver", SERVER);
    }

    /** A child JVM for this home, with node "n" and server "s", loading the library with -agentpath. */
    public static ChildJvm in(TempHome home) {
        return new ChildJvm(home);
    }

    public static Path buildDir() {
        String dir = System.getProperty("dc.build.dir");
        if (dir == null) throw new IllegalStateException("system property dc.build.dir not set");
        return Paths.get(dir).toAbsolutePath();
    }

    public static Path library() {
        return buildDir().resolve("libdatacollector.so");
    }

    public static Path agentJar() {
        return buildDir().resolve("datacollector-agent.jar");
    }

    public ChildJvm loading(Loading how) {
        loading = how;
        return this;
    }

    public ChildJvm agentOptions(String options) {
        agentOptions = options;
        return this;
    }

    /** Sets a system property; null removes it (also the identity defaults). */
    public ChildJvm property(String name, String value) {
        if (value == null) {
            properties.remove(name);
        } else {
            properties.put(name, value);
        }
        return this;
    }

    public ChildJvm jvmArgs(String... more) {
        jvmArgs.addAll(Arrays.asList(more));
        return this;
    }

    /** Puts a class path entry before the agent jar and the test classes. */
    public ChildJvm classPathFirst(Path entry) {
        classPathFirst.add(entry.toString());
        return this;
    }

    /** Sets an environment variable of the child. */
    public ChildJvm environment(String name, String value) {
        environment.put(name, value);
        return this;
    }

    public ChildJvm main(Class<?> main, String... arguments) {
        return main(main.getName(), arguments);
    }

    public ChildJvm main(String main, String... arguments) {
        mainClass = main;
        args.clear();
        args.addAll(Arrays.asList(arguments));
        return this;
    }

    /** Runs the lifecycle launcher with the given workload class. */
    public ChildJvm launcher(Class<?> workload, String... moreArguments) {
        main(LAUNCHER, "--workload", workload.getName());
        args.addAll(Arrays.asList(moreArguments));
        return this;
    }

    public List<String> command() {
        List<String> command = new ArrayList<>();
        command.add(System.getProperty("dc.java",
                Paths.get(System.getProperty("java.home"), "bin", "java").toString()));
        switch (loading) {
            case AGENTPATH:
                command.add("-agentpath:" + library()
                        + (agentOptions == null ? "" : "=" + agentOptions));
                break;
            case XRUN:
                command.add("-Djava.library.path=" + buildDir());
                command.add("-Xrundatacollector" + (agentOptions == null ? "" : ":" + agentOptions));
                break;
            case NONE:
                break;
        }
        for (Map.Entry<String, String> p : properties.entrySet()) {
            command.add("-D" + p.getKey() + "=" + p.getValue());
        }
        command.addAll(jvmArgs);
        command.add("-cp");
        String testJar = System.getProperty("dc.test.jar");
        List<String> path = new ArrayList<>(classPathFirst);
        path.add(agentJar().toString());
        if (testJar != null) path.add(testJar);
        command.add(String.join(File.pathSeparator, path));
        command.add(mainClass);
        command.addAll(args);
        return command;
    }

    public RunResult run() throws IOException, InterruptedException {
        List<String> command = command();
        int run;
        synchronized (ChildJvm.class) {
            run = ++runs;
        }
        // Output goes to files beside the home, so that a chatty child never
        // blocks on a full pipe.
        Path out = Files.createTempFile(home.path().getParent(), "child" + run, ".out");
        Path err = Files.createTempFile(home.path().getParent(), "child" + run, ".err");
        try {
            ProcessBuilder builder = new ProcessBuilder(command)
                    .directory(home.path().toFile())
                    .redirectOutput(out.toFile())
                    .redirectError(err.toFile());
            builder.environment().putAll(environment);
            if (loading == Loading.XRUN) {
                // The JVM looks for an -Xrun library on the system library path.
                String path = System.getenv("LD_LIBRARY_PATH");
                builder.environment().put("LD_LIBRARY_PATH",
                        buildDir() + (path == null || path.isEmpty() ? "" : ":" + path));
            }
            long start = System.currentTimeMillis();
            long started = System.nanoTime();
            Process process = builder.start();
            if (!process.waitFor(timeoutSeconds, TimeUnit.SECONDS)) {
                process.destroyForcibly().waitFor();
                throw new AssertionError("child JVM did not end within " + timeoutSeconds
                        + " s: " + String.join(" ", command) + "\n--- stdout ---\n"
                        + TempHome.read(out) + "\n--- stderr ---\n" + TempHome.read(err));
            }
            long elapsed = (System.nanoTime() - started) / 1000000;
            return new RunResult(command, process.exitValue(), TempHome.read(out),
                    TempHome.read(err), start, elapsed);
        } finally {
            Files.deleteIfExists(out);
            Files.deleteIfExists(err);
        }
    }
}
