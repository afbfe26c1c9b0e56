package com.halden.bench;

import com.halden.command.heap.HeapUtil;
import com.halden.probe.Launcher;
import java.nio.file.Files;
import java.nio.file.Paths;

/**
 * Heap snapshots of a heap holding 1 million small objects (run.sh with
 * BENCH_WORKLOAD=com.halden.bench.HeapSnapshotBench BENCH_JVM_ARGS=-Xmx256m):
 * the time of each snapshot, the dump's size worked out from the summary
 * (every instance and array with its record head), and the rise of the
 * process's peak resident memory over the snapshots.
 */
public final class HeapSnapshotBench implements Launcher.Workload {
    static final class Small {
        int value;

        Small(int value) {
            this.value = value;
        }
    }

    static Small[] held;

    @Override
    public void run() throws Exception {
        int count = Integer.getInteger("dc.bench.objects", 1000000);
        held = new Small[count];
        for (int i = 0; i < count; i++) held[i] = new Small(i);
        System.gc();
        long peakBefore = peakKiB();
        for (int round = 0; round < Integer.getInteger("dc.bench.rounds", 3); round++) {
            StringBuffer summary = new StringBuffer();
            long start = System.nanoTime();
            int result = HeapUtil.getHeapSnapShotData(summary);
            long micros = (System.nanoTime() - start) / 1000;
            String[] lines = summary.toString().split("\n");
            String[] totals = lines[0].split(",");
            String[] primitives = lines[lines.length - 2].split(",");
            String[] objects = lines[lines.length - 1].split(",");
            long bytes = Long.parseLong(totals[0]);
            long all = Long.parseLong(totals[1]);
            long primitiveCount = Long.parseLong(primitives[3]);
            long instancesAndObjectArrays = all - primitiveCount;
            long dumpBytes = bytes + 13 * instancesAndObjectArrays + 10 * primitiveCount;
            System.out.printf("[bench] snapshot result %d: %d us, %d objects, heap data %d bytes,"
                    + " dump %d bytes, %d classes%n", result, micros, all, bytes, dumpBytes,
                    lines.length - 3);
        }
        System.out.printf("[bench] peak resident memory rose by %d KiB over the snapshots%n",
                peakKiB() - peakBefore);
        if (held.length != count) throw new IllegalStateException();
    }

    static long peakKiB() throws Exception {
        for (String line : Files.readAllLines(Paths.get("/proc/self/status"))) {
            if (line.startsWith("VmHWM:")) return Long.parseLong(line.replaceAll("[^0-9]", ""));
        }
        return -1;
    }
}
