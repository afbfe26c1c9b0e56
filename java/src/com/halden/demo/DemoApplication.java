package com.halden.demo;

import com.halden.probe.Launcher;
import com.halden.probe.ProbeUtils;
import com.halden.probe.ThreadManager;

import java.util.ArrayList;
import java.util.List;
import java.util.concurrent.atomic.AtomicLong;

/**
 * A small stand-in for a monitored application server: several worker
 * threads serve HTTP requests for a few seconds, each request calling an EJB
 * that runs SQL statements and sends a JMS message, through the same hooks
 * an instrumented server calls. Run by the launcher as its workload:
 *
 * <pre>
 * java -agentpath:libdatacollector.so -Dhm.home=... -Dhm.ps.host=127.0.0.1 -Dhm.ps.port=N \
 *     -cp datacollector-agent.jar com.halden.probe.Launcher \
 *     --workload com.halden.demo.DemoApplication
 * </pre>
 *
 * System properties: demo.threads (default 4), demo.millis (how long the
 * threads serve, default 3000), demo.pause (milliseconds between two
 * requests of a thread, default 5), demo.sql (statements per request,
 * default 2).
 */
public final class DemoApplication implements Launcher.Workload {
    private static final String[] PAGES = {"/shop/cart", "/shop/checkout", "/shop/search?q=tea",
        "/account/orders"};

    private final int threads = Integer.getInteger("demo.threads", 4);
    private final long millis = Long.getLong("demo.millis", 3000);
    private final long pause = Long.getLong("demo.pause", 5);
    private final int statements = Integer.getInteger("demo.sql", 2);
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
        while (System.currentTimeMillis() < deadline) {
            request(worker, n++);
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

    /** One HTTP request: an EJB call with SQL inside, then a JMS send. */
    static void request(int worker, int n, int statements) {
        String url = PAGES[(worker + n) % PAGES.length];
        String name = "GET " + url;
        ThreadManager.startNativeHttpRequest(0, name, "DemoShop", url, "worker " + worker);
        ThreadManager.beginNativeEJBRequest("DemoShop", "OrderBean.find", "ejb/OrderBean?id=" + n);
        for (int s = 0; s < statements; s++) {
            ProbeUtils.beginNativeSQLRequest(
                    "SELECT id, total FROM orders WHERE customer = ? AND page = " + s, "jdbc/shop");
            ProbeUtils.endNativeSQLRequest(0, 0);
        }
        ThreadManager.endNativeEJBRequest("DemoShop", "OrderBean.find", "ejb/OrderBean?id=" + n);
        ProbeUtils.beginNativeJMSRequest(1, "queue/orders", "OrderPlaced", "order-" + n);
        ProbeUtils.endNativeJMSRequest(1, "queue/orders", "OrderPlaced", "order-" + n);
        ThreadManager.finishNativeHttpRequest(name, 0, 0);
    }

    private void request(int worker, int n) {
        request(worker, n, statements);
    }
}
