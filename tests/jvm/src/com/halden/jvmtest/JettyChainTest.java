package com.halden.jvmtest;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNotEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.halden.jvmtest.support.JettyShop;
import com.halden.jvmtest.support.Psdump;
import com.halden.jvmtest.support.TempHome;
import java.util.List;
import org.junit.jupiter.api.AfterAll;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.Test;

/**
 * Two Jettys with the agent, the front one's report servlet calling the back
 * one's catalog through HttpURLConnection: each outgoing call carries the
 * front request's correlation token, and the back server's request records
 * a receive of that very token.
 */
class JettyChainTest {
    static final int CALLS = 3;
    static TempHome dir;
    static List<String> front;
    static List<String> back;

    @BeforeAll
    @SuppressWarnings("try")  // the collector is closed early, to read all it received
    static void chain() throws Exception {
        dir = TempHome.create();
        int frontPort = Psdump.freePort();
        int backPort = Psdump.freePort();
        try (Psdump frontCollector = Psdump.listen(frontPort, dir.path(), "front");
                Psdump backCollector = Psdump.listen(backPort, dir.path(), "back");
                JettyShop backJetty = JettyShop.start(backPort, "");
                JettyShop frontJetty = JettyShop.start(frontPort, "", "shop.downstream",
                        "http://127.0.0.1:" + backJetty.port + "/shop/catalog")) {
            for (int i = 0; i < CALLS; i++) {
                JettyShop.Answer a = frontJetty.get("/report");
                assertEquals(200, a.status, a.body);
                assertTrue(a.body.contains("downstream: "), a.body);
            }
            frontJetty.requestStop();
            backJetty.requestStop();
            frontJetty.awaitStop();
            backJetty.awaitStop();
            frontCollector.close();
            backCollector.close();
            front = frontCollector.lines();
            back = backCollector.lines();
        }
    }

    @AfterAll
    static void removeDir() {
        if (dir != null) dir.close();
    }

    static List<String> tokens(List<String> lines, String record) {
        return Psdump.records(lines, record).stream().map(l -> Psdump.field(l, "token")).toList();
    }

    @Test
    void theBackServerReceivesTheTokenOfTheFrontRequestThatCalled() {
        List<String> sent = tokens(front, "correlationBegin");
        assertEquals(CALLS, sent.size(), String.join("\n", front));
        assertEquals(CALLS, Psdump.records(front, "correlationEnd").size());
        // A new front request draws a new token.
        assertEquals(CALLS, sent.stream().distinct().count(), sent.toString());
        for (String token : sent) assertNotEquals("00000000", token);
        // The back server's threads drain in no particular order.
        assertEquals(sent.stream().sorted().toList(),
                tokens(back, "correlationPoint5").stream().sorted().toList(),
                String.join("\n", back));
        assertEquals(CALLS, Psdump.records(back, "correlationPoint6").size());
        // The back server's receives sit inside its servlet requests.
        assertEquals(CALLS, Psdump.records(back, "httpStart").size());
        assertTrue(tokens(back, "correlationBegin").isEmpty());
    }
}
