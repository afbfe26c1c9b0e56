package com.halden.jvmtest;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.halden.jvmtest.support.JettyShop;
import com.halden.jvmtest.support.Psdump;
import com.halden.jvmtest.support.TempHome;
import java.nio.file.Files;
import org.junit.jupiter.api.Test;

/**
 * Jetty with the library but without the Java agent runs as it did before
 * the agent existed: the library loads and logs, nothing is instrumented,
 * the shop answers, and no request reaches the collector.
 */
class JettyWithoutAgentTest {
    @Test
    @SuppressWarnings("try")  // the collector is closed early, to read all it received
    void theServerServesAndTheProbeStaysQuiet() throws Exception {
        try (TempHome dir = TempHome.create()) {
            int port = Psdump.freePort();
            try (Psdump collector = Psdump.listen(port, dir.path(), "psdump");
                    JettyShop jetty = JettyShop.start(port, null)) {
                for (String path : new String[] {"/catalog", "/report"}) {
                    JettyShop.Answer a = jetty.get(path);
                    assertEquals(200, a.status, a.body);
                }
                assertTrue(jetty.get("/order").body.contains("ordered"));
                assertTrue(Files.list(jetty.home.logs()).findAny().isPresent());
                jetty.requestStop();
                String output = jetty.awaitStop();
                assertFalse(output.contains("[halden-agent]"), output);
                collector.close();
                assertTrue(collector.records("httpStart").isEmpty());
            }
        }
    }
}
