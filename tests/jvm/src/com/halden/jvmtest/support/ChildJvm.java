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
 * and collects its output. The build tree comes from the system property
 * dc.build.dir, the test classes from dc.test.jar, the java executable from
 * dc.java (default: this JVM's).
 */
public final class ChildJvm {
    /** -agentpath:&lt;library&gt;[=options], or -Xrundatacollector[:options]. */
    public enum Loading { AGENTPATH, XRUN }

    public static final String NODE = "n";
    public static final String SERVER = "s";
    private static int runs;

    private final TempHome home;
    private Loading loading = Loading.AGENTPATH;
    private String agentOptions;
    private final Map<String, String> properties = new LinkedHashMap<>();
    private final List<String> jvmArgs = new ArrayList<>();
    private final List<String> classPath = new ArrayList<>();
    private final Map<String, String> environment = new LinkedHashMap<>();
    private final List<String> main = new ArrayList<>(List.of("com.halden.probe.Launcher"));

    private ChildJvm(TempHome home) {
        this.home = home;
        property("hm.home", home.path().toString()).property("hm.nodename", NODE)
                .property("hm.appserver", SERVER);
    }

    /** A child JVM for this home, with node "n" and server "s", loading the library with -agentpath. */
    public static ChildJvm in(TempHome home) { return new ChildJvm(home); }

    public static Path buildDir() {
        String dir = System.getProperty("dc.build.dir");
        if (dir == null) throw new IllegalStateException("system property dc.build.dir not set");
        return Paths.get(dir).toAbsolutePath();
    }

    public ChildJvm loading(Loading how) { loading = how; return this; }

    public ChildJvm agentOptions(String options) { agentOptions = options; return this; }

    /** Sets a system property; null removes it (also the identity defaults). */
    public ChildJvm property(String name, String value) {
        if (value == null) properties.remove(name);
        else properties.put(name, value);
        return this;
    }

    public ChildJvm jvmArgs(String... more) { jvmArgs.addAll(Arrays.asList(more)); return this; }

    /** Puts a class path entry before the agent jar and the test classes. */
    public ChildJvm classPathFirst(Path entry) { classPath.add(entry.toString()); return this; }

    public ChildJvm environment(String name, String value) {
        environment.put(name, value);
        return this;
    }

    public ChildJvm main(String mainClass, String... arguments) {
        main.clear();
        main.add(mainClass);
        main.addAll(Arrays.asList(arguments));
        return this;
    }

    /** Runs the lifecycle launcher with the given workload class. */
    public ChildJvm launcher(Class<?> workload, String... moreArguments) {
        main.clear();
        main.addAll(List.of("com.halden.probe.Launcher", "--workload", workload.getName()));
        main.addAll(Arrays.asList(moreArguments));
        return this;
    }

    public List<String> command() {
        List<String> command = new ArrayList<>(List.of(System.getProperty("dc.java",
                Paths.get(System.getProperty("java.home"), "bin", "java").toString())));
        String options = agentOptions == null ? "" : agentOptions;
        if (loading == Loading.AGENTPATH) {
            command.add("-agentpath:" + buildDir().resolve("libdatacollector.so")
                    + (options.isEmpty() ? "" : "=" + options));
        } else {
            command.add("-Djava.library.path=" + buildDir());
            command.add("-Xrundatacollector" + (options.isEmpty() ? "" : ":" + options));
        }
        properties.forEach((k, v) -> command.add("-D" + k + "=" + v));
        command.addAll(jvmArgs);
        List<String> path = new ArrayList<>(classPath);
        path.add(buildDir().resolve("datacollector-agent.jar").toString());
        if (System.getProperty("dc.test.jar") != null) path.add(System.getProperty("dc.test.jar"));
        command.addAll(List.of("-cp", String.join(File.pathSeparator, path)));
        command.addAll(main);
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
            ProcessBuilder builder = new ProcessBuilder(command).directory(home.path().toFile())
                    .redirectOutput(out.toFile()).redirectError(err.toFile());
            builder.environment().putAll(environment);
            if (loading == Loading.XRUN) {
                // The JVM looks for an -Xrun library on the system library path.
                String path = System.getenv("LD_LIBRARY_PATH");
                builder.environment().put("LD_LIBRARY_PATH",
                        buildDir() + (path == null || path.isEmpty() ? "" : ":" + path));
            }
            long start = System.currentTimeMillis();
            Process process = builder.start();
            if (!process.waitFor(180, TimeUnit.SECONDS)) {
                process.destroyForcibly().waitFor();
                throw new AssertionError("child JVM did not end within 180 s: "
                        + String.join(" ", command) + "\n--- stdout ---\n" + TempHome.read(out)
                        + "\n--- stderr ---\n" + TempHome.read(err));
            }
            return new RunResult(command, process.exitValue(), TempHome.read(out),
                    TempHome.read(err), start, System.currentTimeMillis() - start);
        } finally {
            Files.deleteIfExists(out);
            Files.deleteIfExists(err);
        }
    }

    /** Starts the child without waiting for it; both its outputs go to one file beside the home. */
    public Started start() throws IOException { return new Started(); }

    /** A child JVM that runs while the test goes on; closing kills it. */
    public final class Started implements AutoCloseable {
        public final Process process;
        private final Path out = home.path().resolveSibling(home.path().getFileName() + ".child.out");

        private Started() throws IOException {
            process = new ProcessBuilder(command()).directory(home.path().toFile())
                    .redirectErrorStream(true).redirectOutput(out.toFile()).start();
        }

        public String output() { return Files.exists(out) ? TempHome.read(out) : ""; }

        public void waitForLine(String text) throws InterruptedException {
            for (long end = System.currentTimeMillis() + 30000; !output().contains(text);
                    Thread.sleep(20)) {
                if (!process.isAlive() || System.currentTimeMillis() > end) {
                    throw new AssertionError("child never printed \"" + text + "\":\n" + output());
                }
            }
        }

        public int waitForExit() throws InterruptedException {
            if (!process.waitFor(120, TimeUnit.SECONDS)) throw new AssertionError(output());
            return process.exitValue();
        }

        @Override
        public void close() throws IOException {
            process.destroyForcibly();
            Files.deleteIfExists(out);
        }
    }
}
