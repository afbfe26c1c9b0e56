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
    void theServerServesAndTheProbeStaysQuiet() throws Exception {
        try (TempHome dir = TempHome.create()) {
            boolean[] logged = {false};
            JettyShop.Run run = JettyShop.serve(dir.path(), null, new String[0], jetty -> {
                for (String path : new String[] {"/catalog", "/report"}) {
                    JettyShop.Answer a = jetty.get(path);
                    assertEquals(200, a.status, a.body);
                }
                assertTrue(jetty.get("/order").body.contains("ordered"));
                logged[0] = Files.list(jetty.home.logs()).findAny().isPresent();
            });
            assertTrue(logged[0]);
            assertFalse(run.output.contains("[halden-agent]"), run.output);
            assertTrue(Psdump.records(run.lines, "httpStart").isEmpty());
        }
    }
}
