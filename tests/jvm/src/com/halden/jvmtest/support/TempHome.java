package com.halden.jvmtest.support;

import java.io.IOException;
import java.io.UncheckedIOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
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
    /** The catalogue the tests write: the keys the start-up logs through. */
    public static final String DEFAULT_CATALOGUE = "PROBE_INFO=%s\n";

    private final Path root;

    private TempHome(Path root) {
        this.root = root;
    }

    public static TempHome create() {
        try {
            Path root = Files.createTempDirectory("dc-home");
            Files.createDirectories(root.resolve("etc"));
            Files.createDirectories(root.resolve("logs"));
            Files.createDirectories(root.resolve("lib"));
            TempHome home = new TempHome(root);
            home.writeCatalogue(DEFAULT_CATALOGUE);
            return home;
        } catch (IOException e) {
            throw new UncheckedIOException(e);
        }
    }

    public Path path() {
        return root;
    }

    public Path etc() {
        return root.resolve("etc");
    }

    public Path logs() {
        return root.resolve("logs");
    }

    /** The MOD file of a node and server without a profile. */
    public Path modFile(String node, String server) {
        return etc().resolve(node + "." + server + ".hm.mod");
    }

    public TempHome writeModFile(String node, String server, String content) {
        return write(modFile(node, server), content);
    }

    public TempHome writeCatalogue(String content) {
        return write(etc().resolve("LogMessages"), content);
    }

    /** Writes the default property file, etc/datacollector.properties. */
    public TempHome writeProperties(String content) {
        return write(etc().resolve("datacollector.properties"), content);
    }

    public TempHome write(Path file, String content) {
        try {
            Files.write(file, content.getBytes(StandardCharsets.UTF_8));
            return this;
        } catch (IOException e) {
            throw new UncheckedIOException(e);
        }
    }

    public static String read(Path file) {
        try {
            return new String(Files.readAllBytes(file), StandardCharsets.UTF_8);
        } catch (IOException e) {
            throw new UncheckedIOException(e);
        }
    }

    public static List<String> readLines(Path file) {
        return new ArrayList<>(List.of(read(file).split("\n", -1)));
    }

    /** The files in logs/, sorted by name. */
    public List<Path> logFiles() {
        try (Stream<Path> files = Files.list(logs())) {
            return files.sorted().collect(Collectors.toList());
        } catch (IOException e) {
            throw new UncheckedIOException(e);
        }
    }

    /** The one log file; fails unless there is exactly one. */
    public Path onlyLogFile() {
        List<Path> files = logFiles();
        if (files.size() != 1) {
            throw new AssertionError("expected one log file in " + logs() + ", found " + files);
        }
        return files.get(0);
    }

    @Override
    public void close() {
        if (System.getProperty("dc.keep.homes") != null) return;
        try (Stream<Path> paths = Files.walk(root)) {
            for (Path p : paths.sorted(Comparator.reverseOrder()).collect(Collectors.toList())) {
                Files.deleteIfExists(p);
            }
        } catch (IOException e) {
            throw new UncheckedIOException(e);
        }
    }

    @Override
    public String toString() {
        return root.toString();
    }
}
