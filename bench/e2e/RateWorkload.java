import com.halden.probe.Launcher;
import com.halden.probe.ProbeUtils;
import com.halden.probe.ThreadManager;

import java.nio.file.Files;
import java.nio.file.Paths;
import java.util.ArrayList;
import java.util.List;
import java.util.concurrent.atomic.AtomicLong;

/**
 * The end-to-end benchmark's workload, run by the launcher. Mode "rate"
 * (default): bench.threads threads (default 2) serve bench.rate requests a
 * second in all for bench.seconds seconds, each request an HTTP start, one SQL
 * begin and end, and the HTTP finish (four records). Mode "fill": the threads
 * serve as fast as they can until the memory figure of the probe reaches
 * bench.fill bytes or bench.seconds pass. Prints "[bench] key value" lines:
 * served, seconds, rate, maxMemory (the probe's estimate), rssStart, rssMax
 * (the JVM's resident set in kB).
 */
public final class RateWorkload implements Launcher.Workload {
    private final String mode = System.getProperty("bench.mode", "rate");
    private final int threads = Integer.getInteger("bench.threads", 2);
    private final double rate = Double.parseDouble(System.getProperty("bench.rate", "1000"));
    private final long seconds = Long.getLong("bench.seconds", 30);
    private final long fill = Long.getLong("bench.fill", 60000000);
    private final AtomicLong served = new AtomicLong();
    private final AtomicLong maxMemory = new AtomicLong();
    private final AtomicLong rssMax = new AtomicLong();
    private volatile boolean done;

    @Override
    public void run() throws Exception {
        long rssStart = rss();
        Thread sampler = new Thread(this::sample, "bench-sampler");
        sampler.setDaemon(true);
        sampler.start();
        long start = System.nanoTime();
        long end = start + seconds * 1000000000L;
        List<Thread> workers = new ArrayList<>();
        for (int i = 0; i < threads; i++) {
            final int worker = i;
            Thread t = new Thread(() -> serve(worker, start, end), "bench-" + i);
            workers.add(t);
            t.start();
        }
        for (Thread t : workers) t.join();
        done = true;
        double elapsed = (System.nanoTime() - start) / 1e9;
        sampleOnce();
        say("served " + served.get());
        say("seconds " + String.format("%.2f", elapsed));
        say("rate " + String.format("%.0f", served.get() / elapsed));
        say("maxMemory " + maxMemory.get());
        say("rssStart " + rssStart);
        say("rssMax " + rssMax.get());
    }

    private void serve(int worker, long start, long end) {
        double perThread = rate / threads;
        long n = 0;
        while (!done) {
            long now = System.nanoTime();
            if (now >= end) break;
            if (mode.equals("rate")) {
                long due = start + (long) (n * 1e9 / perThread);
                if (due > now) {
                    long wait = due - now;
                    try {
                        Thread.sleep(wait / 1000000, (int) (wait % 1000000));
                    } catch (InterruptedException e) {
                        return;
                    }
                    continue;
                }
            } else if (maxMemory.get() >= fill) {
                break;
            }
            String url = "/bench/" + worker + "/" + (n % 1000);
            ThreadManager.startNativeHttpRequest(0, url, "Bench", url, "");
            ProbeUtils.beginNativeSQLRequest("SELECT name FROM item WHERE id = ?", "jdbc/bench");
            ProbeUtils.endNativeSQLRequest(0, 0);
            ThreadManager.finishNativeHttpRequest(url, 0, 0);
            served.incrementAndGet();
            n++;
        }
    }

    private void sample() {
        while (!done) {
            sampleOnce();
            try {
                Thread.sleep(20);
            } catch (InterruptedException e) {
                return;
            }
        }
    }

    private void sampleOnce() {
        String status = ThreadManager.getNativeProbeStatus();
        if (status != null) {
            java.util.regex.Matcher m = java.util.regex.Pattern.compile("(\\d+)").matcher(status);
            if (m.find()) maxMemory.accumulateAndGet(Long.parseLong(m.group(1)), Math::max);
        }
        rssMax.accumulateAndGet(rss(), Math::max);
    }

    private static long rss() {
        try {
            for (String line : Files.readAllLines(Paths.get("/proc/self/status"))) {
                if (line.startsWith("VmRSS:")) return Long.parseLong(line.replaceAll("[^0-9]", ""));
            }
        } catch (Exception e) {
            // not available
        }
        return -1;
    }

    private static void say(String text) {
        System.out.println("[bench] " + text);
        System.out.flush();
    }
}
