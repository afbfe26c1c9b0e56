package com.halden.jvmtest;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.halden.jvmtest.support.JettyShop;
import com.halden.jvmtest.support.Psdump;
import com.halden.jvmtest.support.TempHome;
import java.util.ArrayList;
import java.util.List;
import java.util.Map;
import java.util.TreeMap;
import java.util.regex.Matcher;
import java.util.regex.Pattern;
import org.junit.jupiter.api.AfterAll;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.Test;

/**
 * Debian's Jetty with the demo shop, started with the Java agent and the
 * library and nothing else changed, under a fixed number of requests: every
 * servlet request reaches the collector as one HTTP request with the SQL its
 * servlet ran nested in it, and the failed ones carry the error flag.
 */
class JettyAgentTest {
    static final int CATALOGS = 6;
    static final int ORDERS = 20;
    static final int REPORTS = 4;
    static TempHome dir;
    static final List<Integer> orderStatuses = new ArrayList<>();
    static List<String> requests;
    static String jettyOutput;

    @BeforeAll
    static void serve() throws Exception {
        dir = TempHome.create();
        JettyShop.Run run = JettyShop.serve(dir.path(), "", new String[] {"--requests"}, jetty -> {
            for (int i = 0; i < ORDERS; i++) {
                if (i < CATALOGS) assertEquals(200, jetty.get("/catalog?page=" + i).status);
                orderStatuses.add(jetty.get("/order").status);
                if (i < REPORTS) assertEquals(200, jetty.get("/report").status);
            }
        }, "shop.failEvery", "10");
        jettyOutput = run.output;
        requests = run.lines.stream().filter(l -> l.startsWith("{\"request\"")).toList();
    }

    @AfterAll
    static void removeDir() {
        if (dir != null) dir.close();
    }

    static List<String> http() {
        return requests.stream().filter(l -> l.contains("\"kind\":\"http\"")).toList();
    }

    static List<String> sqlTexts(String request) {
        List<String> texts = new ArrayList<>();
        Matcher m = Pattern.compile("\\{\"kind\":\"sql\",\"name\":\"([^\"]*)\"").matcher(request);
        while (m.find()) texts.add(m.group(1));
        return texts;
    }

    @Test
    void everyServletRequestArrivesOnceWithItsNestedSql() {
        assertTrue(jettyOutput.contains("[halden-agent] probe ready"), jettyOutput);
        assertFalse(jettyOutput.contains("WARNING"), jettyOutput);  // -Xcheck:jni is silent
        Map<String, Integer> byName = new TreeMap<>();
        for (String r : http()) {
            String name = Psdump.field(r, "name");
            byName.merge(name.replaceAll("\\?.*", ""), 1, Integer::sum);
            assertEquals("/shop", Psdump.field(r, "detail"), r);
            assertTrue(r.contains("\"incomplete\":false"), r);
            List<String> expected = switch (name.replaceAll("\\?.*", "")) {
                case "/shop/catalog" -> List.of(
                        "SELECT id, name, price FROM product WHERE price < ? ORDER BY price");
                case "/shop/order" -> List.of("INSERT INTO orders (product, quantity) VALUES (?, ?)",
                        "SELECT COUNT(*) FROM orders WHERE product = ?");
                default -> List.of("SELECT product, SUM(quantity) FROM orders GROUP BY product"
                        + " ORDER BY product");
            };
            assertEquals(expected, sqlTexts(r), r);
        }
        assertEquals(Map.of("/shop/catalog", CATALOGS, "/shop/order", ORDERS, "/shop/report",
                REPORTS), byName, String.join("\n", requests));
        // The query string is part of the request's URL.
        assertTrue(http().stream().anyMatch(r -> "/shop/catalog?page=3".equals(
                Psdump.field(r, "name"))), String.join("\n", http()));
    }

    @Test
    void failedRequestsCarryTheErrorFlag() {
        // Orders 9 and 19 throw, 4 and 14 answer 503.
        assertEquals(List.of(200, 200, 200, 200, 503, 200, 200, 200, 200, 500),
                orderStatuses.subList(0, 10));
        long failed = orderStatuses.stream().filter(s -> s >= 500).count();
        assertEquals(4, failed);
        for (String r : http()) {
            boolean error = r.contains("\"error\":true");
            assertEquals(r.contains("\"name\":\"/shop/order\"") && error, error, r);
        }
        assertEquals(failed, http().stream().filter(r -> r.contains("\"error\":true")).count());
    }
}
