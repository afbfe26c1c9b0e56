package com.halden.jvmtest.support;

import java.io.IOException;
import java.io.UncheckedIOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.Comparator;
import java.util.List;
import java.util.stream.Collectors;
import java.util.stream.Stream;

/**
 * A temporary agent home directory: etc/ with a message catalogue, logs/ and
 * lib/, as an installation has them. Deleted on close unless the system
 * property dc.keep.homes is set.
 */
public final class TempHome implements AutoCloseable {
    private interface Io<T> { T run() throws IOException; }

    private static <T> T io(Io<T> call) {
        try {
            return call.run();
        } catch (IOException e) {
            throw new UncheckedIOException(e);
        }
    }

    private final Path root;

    private TempHome(Path root) { this.root = root; }

    public static TempHome create() {
        Path root = io(() -> Files.createTempDirectory("dc-home"));
        for (String dir : new String[] {"etc", "logs", "lib"}) {
            io(() -> Files.createDirectories(root.resolve(dir)));
        }
        // The catalogue key the start-up logs through.
        return new TempHome(root).write(root.resolve("etc/LogMessages"), "PROBE_INFO=%s\n");
    }

    public Path path() { return root; }
    public Path etc() { return root.resolve("etc"); }
    public Path logs() { return root.resolve("logs"); }

    /** The MOD file of a node and server without a profile. */
    public Path modFile(String node, String server) {
        return etc().resolve(node + "." + server + ".hm.mod");
    }

    /** Writes the default property file, etc/datacollector.properties. */
    public TempHome writeProperties(String content) {
        return write(etc().resolve("datacollector.properties"), content);
    }

    public TempHome write(Path file, String content) {
        io(() -> Files.write(file, content.getBytes(StandardCharsets.UTF_8)));
        return this;
    }

    public static String read(Path file) {
        return io(() -> new String(Files.readAllBytes(file), StandardCharsets.UTF_8));
    }

    /** The one file in logs/; fails unless there is exactly one. */
    public Path onlyLogFile() {
        List<Path> found = io(() -> {
            try (Stream<Path> files = Files.list(logs())) {
                return files.collect(Collectors.toList());
            }
        });
        if (found.size() != 1) {
            throw new AssertionError("expected one log file in " + logs() + ", found " + found);
        }
        return found.get(0);
    }

    @Override
    public void close() {
        if (System.getProperty("dc.keep.homes") != null) return;
        io(() -> {
            try (Stream<Path> paths = Files.walk(root)) {
                for (Path p : paths.sorted(Comparator.reverseOrder()).toArray(Path[]::new)) {
                    Files.deleteIfExists(p);
                }
            }
            return null;
        });
    }
}
