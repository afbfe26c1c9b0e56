package com.halden.bench;

import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.DirectoryStream;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;

/**
 * CPU time of a process's threads, read from /proc: the first field of each
 * task's schedstat is the nanoseconds it has run. Threads are picked by the
 * start of their name (/proc/.../task/N/comm); a null prefix takes them all.
 * A thread that has ended is no longer counted, so the figures are meant for
 * threads that live through the stretch measured (the agents' loops, the
 * collector's connection thread). Answers -1 where /proc cannot be read.
 */
final class TaskCpu {
    private TaskCpu() {}

    static long nanos(String pid, String namePrefix) {
        Path tasks = Paths.get("/proc", pid, "task");
        long total = 0;
        try (DirectoryStream<Path> dir = Files.newDirectoryStream(tasks)) {
            for (Path task : dir) {
                try {
                    if (namePrefix != null) {
                        String comm = new String(Files.readAllBytes(task.resolve("comm")),
                                StandardCharsets.US_ASCII).trim();
                        if (!comm.startsWith(namePrefix)) continue;
                    }
                    String stat = new String(Files.readAllBytes(task.resolve("schedstat")),
                            StandardCharsets.US_ASCII).trim();
                    total += Long.parseLong(stat.split(" ")[0]);
                } catch (IOException | NumberFormatException e) {
                    // The thread ended meanwhile.
                }
            }
        } catch (IOException e) {
            return -1;
        }
        return total;
    }
}
