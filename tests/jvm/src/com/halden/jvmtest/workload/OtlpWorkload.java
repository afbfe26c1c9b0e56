package com.halden.jvmtest.workload;

import static com.halden.jvmtest.support.Checks.report;

import com.halden.demo.DemoApplication;
import com.halden.probe.Launcher;
import com.halden.probe.ProbeController;
import com.halden.probe.ProbeUtils;
import com.halden.probe.ThreadManager;
import java.util.Random;

/**
 * Two sides of a call between JVMs, by ow.role. The invoker serves
 * ow.requests demo requests (an EJB with SQL inside, a JMS send, one in four
 * or so an error), then one request that invokes another JVM with a correlation
 * token; the receiver handles that call, with one SQL statement inside. The
 * receiver's statement holds a NUL, which plain UTF-8 cannot carry in that
 * form. The token mask "01" and a counter file holding 0x414243 give the token
 * 0x40414243, the bytes of "@ABC", which the receiver passes as it would get
 * them from the caller.
 */
public final class OtlpWorkload implements Launcher.Workload {
    public static final String TOKEN_TEXT = "@ABC";

    @Override
    public void run() {
        ProbeController.setupGps("01");
        if ("receiver".equals(System.getProperty("ow.role"))) {
            ProbeUtils.startNativeGpsReceiveRequest(TOKEN_TEXT);
            // A NUL, which the wire carries in modified UTF-8 (C0 80).
            ProbeUtils.beginNativeSQLRequest("UPDATE stock SET n = n - 1 -- \u0000", "jdbc/stock");
            ProbeUtils.endNativeSQLRequest(0, 0);
            ProbeUtils.completeNativeGpsReceiveRequest("done");
            return;
        }
        Random random = new Random(1);
        int requests = Integer.getInteger("ow.requests", 20);
        for (int n = 0; n < requests; n++) DemoApplication.request(n % 2, n, 2, 4, random);
        ThreadManager.startNativeHttpRequest(0, "POST /order", "Shop", "/order", "");
        ProbeUtils.startNativeGpsInvokeRequest();
        report("token", String.format("%08x", java.nio.ByteBuffer.wrap(
                ProbeUtils.getNativeGpsToken()).getInt()));
        ProbeUtils.endNativeGpsInvokeRequest();
        ThreadManager.finishNativeHttpRequest("POST /order", 0, 0);
    }
}
