package com.halden.jvmtest;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.halden.jvmtest.support.ChildJvm;
import com.halden.jvmtest.support.Psdump;
import com.halden.jvmtest.support.TempHome;
import com.halden.jvmtest.workload.MethodLevelWorkload;
import java.nio.file.Path;
import java.util.List;
import org.junit.jupiter.api.Test;

/**
 * Method-level tracing from Java in one real JVM with psdump as the collector, killed and
 * restarted once; the bootstrap native is registered at init done.
 */
class MethodLevelTest {
    @Test
    void classesAndMethodsReachTheCollectorAndSurviveItsRestart() throws Exception {
        try (TempHome home = TempHome.create()) {
            home.writeProperties("internal.probe.publishing.frequency=200\n"
                    + "networkagent.publish.frequency=100\n");
            int port = Psdump.freePort();
            Path dir = home.path().getParent();
            String name = home.path().getFileName().toString();
            ChildJvm jvm = ChildJvm.in(home).launcher(MethodLevelWorkload.class)
                    .property("hm.ps.host", "127.0.0.1").property("hm.ps.port", Integer.toString(port));
            String childOut;
            try (Psdump first = Psdump.listen(port, dir, name + "-1");
                    ChildJvm.Started child = jvm.start()) {
                assertTrue(first.waitFor("\"className\":\"app/Shop\"", 30000), child.output());
                assertTrue(first.waitFor("\"record\":\"methodExit\"", 10000), child.output());
                child.waitForLine("[ml] idle");
                checkFirstConnection(first.lines());
                first.kill();
                Thread.sleep(700);
                Psdump second = Psdump.listen(port, dir, name + "-2");
                try {
                    assertEquals(0, child.waitForExit(), child.output());
                } finally {
                    second.close();
                }
                // app/Gone was unloaded: it is not announced again.
                List<String> loads = second.records("classLoad");
                assertEquals(1, loads.size(), String.join("\n", second.lines()));
                assertTrue(loads.get(0).contains("\"className\":\"app/Shop\""), loads.get(0));
                assertTrue(loads.get(0).contains("\"sell\""), loads.get(0));
                childOut = child.output();
            }
            assertTrue(childOut.contains("[ml] appendL3Event true"), childOut);
            String log = TempHome.read(home.onlyLogFile());
            assertTrue(log.contains("Successfully registered defineNativeMethodsForClassNative for "
                    + "com.halden.bcm.bootstrap.BcmBootstrap.class"), log);
            assertTrue(log.contains(
                    "Successfully registered native methods for com.halden.probe.l3trace.BcmRuntime"),
                    log);
        }
    }

    /** Both classes announced, one unloaded; entries and exits from both entry points. */
    static void checkFirstConnection(List<String> lines) {
        String all = String.join("\n", lines);
        int shop = -1, gone = -1, unload = -1;
        for (int i = 0; i < lines.size(); i++) {
            String line = lines.get(i);
            if (line.contains("\"className\":\"app/Shop\"")) shop = i;
            if (line.contains("\"className\":\"app/Gone\"")) gone = i;
            if (line.contains("\"record\":\"classUnload\"")) unload = i;
        }
        assertTrue(shop >= 0 && gone >= 0 && unload > gone, all);
        assertTrue(lines.get(shop).contains("\"buy\"") && lines.get(shop).contains("(I)V"), all);
        for (String record : new String[] {"methodEntry", "methodExit"}) {
            assertEquals(2, lines.stream().filter(l -> l.contains("\"record\":\"" + record + "\"")
                    && l.matches(".*\"methodId\":10[12]\\b.*")).count(), all);
        }
    }
}
