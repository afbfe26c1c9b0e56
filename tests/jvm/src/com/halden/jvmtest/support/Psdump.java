package com.halden.jvmtest.support;

import java.io.IOException;
import java.net.ServerSocket;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.List;
import java.util.concurrent.TimeUnit;
import java.util.regex.Matcher;
import java.util.regex.Pattern;
import java.util.stream.Collectors;

/**
 * The collector stand-in psdump (build/tools/psdump/psdump) as a child
 * process listening on a given loopback port, its JSON lines in a file.
 */
public final class Psdump implements AutoCloseable {
    private final Process process;
    private final Path out;

    private Psdump(Process process, Path out) {
        this.process = process;
        this.out = out;
    }

    /** A port that was free a moment ago. */
    public static int freePort() throws IOException {
        try (ServerSocket s = new ServerSocket(0)) {
            s.setReuseAddress(true);
            return s.getLocalPort();
        }
    }

    /** Starts listening on 127.0.0.1:port and waits until it does; more options may follow. */
    public static Psdump listen(int port, Path dir, String name, String... options)
            throws Exception {
        Path out = dir.resolve(name + ".jsonl");
        Path err = dir.resolve(name + ".err");
        List<String> command = new java.util.ArrayList<>(List.of(
                ChildJvm.buildDir().resolve("tools/psdump/psdump").toString(),
                "--host", "127.0.0.1", "--port", Integer.toString(port), "--summary"));
        command.addAll(List.of(options));
        Process p = new ProcessBuilder(command)
                .redirectOutput(out.toFile()).redirectError(err.toFile()).start();
        for (long end = System.currentTimeMillis() + 10000; System.currentTimeMillis() < end
                && p.isAlive(); Thread.sleep(20)) {
            if (Files.exists(err) && TempHome.read(err).contains("listening on")) {
                return new Psdump(p, out);
            }
        }
        p.destroyForcibly();
        throw new AssertionError("psdump did not start on port " + port + ": "
                + (Files.exists(err) ? TempHome.read(err) : ""));
    }

    /**
     * Runs the child with a psdump on a free port as its collector (output files in dir, named
     * after name); the lines it received are added to lines.
     */
    public static RunResult runWith(ChildJvm child, Path dir, String name, List<String> lines)
            throws Exception {
        int port = freePort();
        Psdump collector = listen(port, dir, name);
        try {
            return child.property("hm.ps.host", "127.0.0.1")
                    .property("hm.ps.port", Integer.toString(port)).run();
        } finally {
            collector.close();  // first, so that every line it received is in its file
            lines.addAll(collector.lines());
        }
    }

    /** Kills the collector at once (SIGKILL), as a crash would. */
    public void kill() throws InterruptedException {
        process.destroyForcibly().waitFor(10, TimeUnit.SECONDS);
    }

    /** Stops it cleanly; it prints its summary as it ends. */
    @Override
    public void close() {
        process.destroy();
        try {
            if (!process.waitFor(10, TimeUnit.SECONDS)) process.destroyForcibly().waitFor();
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
        }
    }

    /** The JSON lines written so far. */
    public List<String> lines() {
        return Files.exists(out) ? RunResult.lines(TempHome.read(out)).stream()
                .filter(l -> !l.isEmpty()).collect(Collectors.toList()) : new java.util.ArrayList<>();
    }

    public List<String> records(String name) { return records(lines(), name); }

    /** The lines of the named record among the given JSON lines. */
    public static List<String> records(List<String> lines, String name) {
        return lines.stream().filter(l -> l.contains("\"record\":\"" + name + "\""))
                .collect(Collectors.toList());
    }

    /** Waits until a record line containing the text arrived. */
    public boolean waitFor(String text, long millis) throws InterruptedException {
        for (long end = System.currentTimeMillis() + millis; ; Thread.sleep(50)) {
            if (lines().stream().anyMatch(l -> l.contains(text))) return true;
            if (System.currentTimeMillis() > end) return false;
        }
    }

    /** A string field of a JSON line, or null. */
    public static String field(String line, String name) {
        Matcher m = Pattern.compile("\"" + name + "\":\"([^\"]*)\"").matcher(line);
        return m.find() ? m.group(1) : null;
    }

    /** A number field of a JSON line, or -1. */
    public static long number(String line, String name) {
        Matcher m = Pattern.compile("\"" + name + "\":(-?\\d+)").matcher(line);
        return m.find() ? Long.parseLong(m.group(1)) : -1;
    }
}
