package com.halden.demo.web;

import java.io.IOException;
import java.io.InputStream;
import java.net.HttpURLConnection;
import java.net.URL;
import java.nio.charset.StandardCharsets;
import java.sql.Connection;
import java.sql.ResultSet;
import java.sql.SQLException;
import java.sql.Statement;
import javax.servlet.ServletException;
import javax.servlet.http.HttpServlet;
import javax.servlet.http.HttpServletRequest;
import javax.servlet.http.HttpServletResponse;

/**
 * GET /report: orders per product (one plain statement). With the system
 * property shop.downstream set to a URL, it also fetches that URL (another
 * server's catalog, say) and adds its answer.
 */
public class ReportServlet extends HttpServlet {
    private static final long serialVersionUID = 1L;

    @Override
    protected void doGet(HttpServletRequest request, HttpServletResponse response)
            throws ServletException, IOException {
        StringBuilder out = new StringBuilder();
        try (Connection c = ShopDatabase.connect(); Statement s = c.createStatement();
                ResultSet r = s.executeQuery("SELECT product, SUM(quantity) FROM orders"
                        + " GROUP BY product ORDER BY product")) {
            while (r.next()) out.append(r.getInt(1)).append(' ').append(r.getLong(2)).append('\n');
        } catch (SQLException e) {
            throw new ServletException(e);
        }
        ShopDatabase.work(5, 10);
        String downstream = System.getProperty("shop.downstream");
        if (downstream != null) out.append("downstream: ").append(fetch(downstream));
        response.setContentType("text/plain");
        response.getWriter().print(out);
    }

    private static String fetch(String address) throws IOException {
        HttpURLConnection connection = (HttpURLConnection) new URL(address).openConnection();
        connection.setConnectTimeout(5000);
        connection.setReadTimeout(10000);
        try (InputStream in = connection.getInputStream()) {
            return new String(in.readAllBytes(), StandardCharsets.UTF_8);
        } finally {
            connection.disconnect();
        }
    }
}
