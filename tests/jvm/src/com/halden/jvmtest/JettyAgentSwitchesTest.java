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
    void switchedOffInstrumentationsRecordNothing() throws Exception {
        try (TempHome dir = TempHome.create()) {
            JettyShop.Run run = JettyShop.serve(dir.path(), "servlet=off,enablewait=20000",
                    new String[0], jetty -> {
                        for (String path : new String[] {"/catalog", "/order", "/report"}) {
                            assertEquals(200, jetty.get(path).status);
                        }
                    }, "hm.agent.jdbc", "off");
            assertTrue(run.output.contains(
                    "[halden-agent] instrumenting servlet=off,jdbc=off,httpclient=on"), run.output);
            assertTrue(run.output.contains("[halden-agent] probe stopped"), run.output);
            assertEquals(1, Psdump.records(run.lines, "identity").size());
            assertTrue(Psdump.records(run.lines, "httpStart").isEmpty());
            assertTrue(Psdump.records(run.lines, "sqlBegin").isEmpty());
        }
    }
}
