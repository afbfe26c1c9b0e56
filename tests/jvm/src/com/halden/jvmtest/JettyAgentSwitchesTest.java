package com.halden.jvmtest;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.halden.jvmtest.support.JettyShop;
import com.halden.jvmtest.support.Psdump;
import com.halden.jvmtest.support.TempHome;
import org.junit.jupiter.api.Test;

/**
 * The agent with servlets turned off by its argument and JDBC by a system
 * property: the probe runs and the shop answers, but neither servlet
 * requests nor statements are recorded.
 */
class JettyAgentSwitchesTest {
    @Test
    @SuppressWarnings("try")  // the collector is closed early, to read all it received
    void switchedOffInstrumentationsRecordNothing() throws Exception {
        try (TempHome dir = TempHome.create()) {
            int port = Psdump.freePort();
            try (Psdump collector = Psdump.listen(port, dir.path(), "psdump");
                    JettyShop jetty = JettyShop.start(port, "servlet=off,enablewait=20000",
                            "hm.agent.jdbc", "off")) {
                for (String path : new String[] {"/catalog", "/order", "/report"}) {
                    assertEquals(200, jetty.get(path).status);
                }
                jetty.requestStop();
                String output = jetty.awaitStop();
                assertTrue(output.contains(
                        "[halden-agent] instrumenting servlet=off,jdbc=off,httpclient=on"), output);
                assertTrue(output.contains("[halden-agent] probe stopped"), output);
                collector.close();
                assertEquals(1, collector.records("identity").size());
                assertTrue(collector.records("httpStart").isEmpty());
                assertTrue(collector.records("sqlBegin").isEmpty());
            }
        }
    }
}
