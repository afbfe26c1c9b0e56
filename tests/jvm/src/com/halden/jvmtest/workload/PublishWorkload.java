package com.halden.jvmtest.workload;

import com.halden.probe.Launcher;
import com.halden.probe.ProbeUtils;
import com.halden.probe.ThreadManager;
import java.util.ArrayList;
import java.util.List;
import java.util.concurrent.atomic.AtomicLong;
import java.util.regex.Matcher;
import java.util.regex.Pattern;

/**
 * Monitored requests for the publishing tests. pw.threads (default 2) worker
 * threads follow pw.plan (default "pace:2000"), phases "mode:millis": "pace"
 * serves one request every pw.pause ms (default 20), "flood" serves without
 * a pause, "idle" serves none. A request is an HTTP start with url
 * "/r/&lt;worker&gt;/&lt;sequence&gt;", one SQL pair and the HTTP finish. Prints
 * "[pw] phase I MODE" as a phase begins, "[pw] requests N" as it ends, and at
 * the end "[pw] last W N" per worker, "[pw] served N" and "[pw] maxMemory N"
 * (the highest figure getNativeProbeStatus gave, sampled every 50 ms).
 */
public final class PublishWorkload implements Launcher.Workload {
    private final int threads = Integer.getInteger("pw.threads", 2);
    private final long pause = Long.getLong("pw.pause", 20);
    private final String[] plan = System.getProperty("pw.plan", "pace:2000").split(",");
    private final AtomicLong served = new AtomicLong();
    private final long[] last = new long[threads];
    private final AtomicLong maxMemory = new AtomicLong();
    private volatile String mode = "idle";
    private volatile boolean done;

    @Override
    public void run() throws Exception {
        Thread sampler = new Thread(() -> {
            while (!done) {
                sampleOnce();
                pause(50);
            }
        }, "pw-sampler");
        sampler.setDaemon(true);
        sampler.start();
        List<Thread> workers = new ArrayList<>();
        for (int i = 0; i < threads; i++) {
            final int worker = i;
            workers.add(new Thread(() -> serve(worker), "pw-worker-" + i));
            workers.get(i).start();
        }
        for (int i = 0; i < plan.length; i++) {
            String[] step = plan[i].split(":");
            long before = served.get();
            mode = step[0];
            say("phase " + i + " " + step[0]);
            Thread.sleep(Long.parseLong(step[1]));
            say("requests " + (served.get() - before));
        }
        done = true;
        for (Thread t : workers) t.join();
        sampleOnce();
        for (int i = 0; i < threads; i++) say("last " + i + " " + last[i]);
        say("served " + served.get());
        say("maxMemory " + maxMemory.get());
    }

    private static void say(String text) {
        System.out.println("[pw] " + text);
        System.out.flush();
    }

    private void serve(int worker) {
        for (long n = 0; !done; ) {
            String m = mode;
            if (m.equals("idle")) {
                pause(5);
                continue;
            }
            String url = "/r/" + worker + "/" + n;
            ThreadManager.startNativeHttpRequest(0, url, "PublishTest", url, "");
            ProbeUtils.beginNativeSQLRequest("SELECT 1 FROM dual", "jdbc/test");
            ProbeUtils.endNativeSQLRequest(0, 0);
            ThreadManager.finishNativeHttpRequest(url, 0, 0);
            served.incrementAndGet();
            last[worker] = n++;
            if (m.equals("pace")) pause(pause);
        }
    }

    private static void pause(long millis) {
        try {
            Thread.sleep(millis);
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
        }
    }

    private void sampleOnce() {
        String status = ThreadManager.getNativeProbeStatus();
        if (status == null) return;
        Matcher m = Pattern.compile("(\\d+)").matcher(status);
        if (m.find()) maxMemory.accumulateAndGet(Long.parseLong(m.group(1)), Math::max);
    }
}
