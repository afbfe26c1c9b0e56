package com.halden.demo;

import com.halden.probe.Launcher;
import com.halden.probe.ProbeUtils;
import com.halden.probe.ThreadManager;

import java.util.ArrayList;
import java.util.List;
import java.util.Random;
import java.util.concurrent.TimeUnit;
import java.util.concurrent.atomic.AtomicLong;
import java.util.concurrent.locks.LockSupport;

/**
 * A small stand-in for a monitored application server: several worker
 * threads serve HTTP requests for a few seconds, each request calling an EJB
 * that runs SQL statements and sends a JMS message, through the same hooks
 * an instrumented server calls. The calls take the time real ones would: the
 * EJB a little CPU work, each SQL statement around a millisecond of waiting
 * on the database with some spread and now and then a slow one (tens of
 * milliseconds), the JMS send a fraction of a millisecond. Run by the
 * launcher as its workload:
 *
 * <pre>
 * java -agentpath:libdatacollector.so -Dhm.home=... -Dhm.ps.host=127.0.0.1 -Dhm.ps.port=N \
 *     -cp datacollector-agent.jar com.halden.probe.Launcher \
 *     --workload com.halden.demo.DemoApplication
 * </pre>
 *
 * System properties: demo.threads (default 4), demo.millis (how long the
 * threads serve, default 3000), demo.pause (milliseconds between two
 * requests of a thread, default 5), demo.errors (one request in that many
 * fails; default 0, none), demo.sql (statements per request,
 * default 2).
 */
public final class DemoApplication implements Launcher.Workload {
    private static final String[] PAGES = {"/shop/cart", "/shop/checkout", "/shop/search?q=tea",
        "/account/orders"};

    private final int threads = Integer.getInteger("demo.threads", 4);
    private final long millis = Long.getLong("demo.millis", 3000);
    private final long pause = Long.getLong("demo.pause", 5);
    private final int statements = Integer.getInteger("demo.sql", 2);
    private final int errorEvery = Integer.getInteger("demo.errors", 0);
    private final AtomicLong requests = new AtomicLong();

    @Override
    public void run() throws Exception {
        List<Thread> workers = new ArrayList<>();
        long deadline = System.currentTimeMillis() + millis;
        for (int i = 0; i < threads; i++) {
            final int worker = i;
            Thread t = new Thread(() -> serve(worker, deadline), "demo-worker-" + i);
            workers.add(t);
            t.start();
        }
        for (Thread t : workers) t.join();
        System.out.println("[demo] " + threads + " threads served " + requests.get()
                + " requests in " + millis + " ms");
        System.out.println("[demo] " + ThreadManager.getNativeProbeStatus());
        System.out.flush();
    }

    private void serve(int worker, long deadline) {
        int n = 0;
        Random random = new Random(worker * 7919L + 1);
        while (System.currentTimeMillis() < deadline) {
            request(worker, n++, statements, errorEvery, random);
            requests.incrementAndGet();
            if (pause > 0) {
                try {
                    Thread.sleep(pause);
                } catch (InterruptedException e) {
                    return;
                }
            }
        }
    }

    /**
     * One HTTP request: an EJB call with SQL inside, then a JMS send; one in
     * errorEvery (at random) ends in an error, none when it is 0.
     */
    public static void request(int worker, int n, int statements, int errorEvery,
            Random random) {
        String url = PAGES[(worker + n) % PAGES.length];
        String name = "GET " + url;
        ThreadManager.startNativeHttpRequest(0, name, "DemoShop", url, "worker " + worker);
        compute(100 + random.nextInt(200));
        ThreadManager.beginNativeEJBRequest("DemoShop", "OrderBean.find", "ejb/OrderBean?id=" + n);
        compute(200 + random.nextInt(400));
        for (int s = 0; s < statements; s++) {
            ProbeUtils.beginNativeSQLRequest(
                    "SELECT id, total FROM orders WHERE customer = ? AND page = " + s, "jdbc/shop");
            waitMicros(sqlMicros(random));
            ProbeUtils.endNativeSQLRequest(0, 0);
        }
        ThreadManager.endNativeEJBRequest("DemoShop", "OrderBean.find", "ejb/OrderBean?id=" + n);
        ProbeUtils.beginNativeJMSRequest(1, "queue/orders", "OrderPlaced", "order-" + n);
        waitMicros(100 + random.nextInt(300));
        ProbeUtils.endNativeJMSRequest(1, "queue/orders", "OrderPlaced", "order-" + n);
        if (errorEvery > 0 && random.nextInt(errorEvery) == 0) {
            ThreadManager.errorNativeHttpRequest(name, "DemoShop", url);
        } else {
            ThreadManager.finishNativeHttpRequest(name, 0, 0);
        }
    }

    /**
     * One statement's time at the database: mostly 0.4 to 2 ms, skewed
     * towards the short end; one in twenty takes 10 to 30 ms (a lock wait, a
     * cold cache).
     */
    static long sqlMicros(Random random) {
        if (random.nextInt(20) == 0) return 10000 + random.nextInt(20000);
        double u = random.nextDouble();
        return 400 + (long) (1600 * u * u);
    }

    /** Waits as a thread blocked on I/O does, without using the CPU. */
    static void waitMicros(long micros) {
        long end = System.nanoTime() + TimeUnit.MICROSECONDS.toNanos(micros);
        for (long left; (left = end - System.nanoTime()) > 0; ) LockSupport.parkNanos(left);
    }

    /** Uses the CPU for about that long, as application code does. */
    static void compute(long micros) {
        long end = System.nanoTime() + TimeUnit.MICROSECONDS.toNanos(micros);
        long x = 0;
        while (System.nanoTime() < end) x += x * 31 + 7;
        if (x == 42) System.out.print("");
    }
}
