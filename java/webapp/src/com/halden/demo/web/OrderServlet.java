package com.halden.demo.web;

import java.io.IOException;
import java.sql.Connection;
import java.sql.PreparedStatement;
import java.sql.ResultSet;
import java.sql.SQLException;
import java.util.concurrent.ThreadLocalRandom;
import java.util.concurrent.atomic.AtomicLong;
import javax.servlet.ServletException;
import javax.servlet.http.HttpServlet;
import javax.servlet.http.HttpServletRequest;
import javax.servlet.http.HttpServletResponse;

/**
 * GET or POST /order: places an order and counts the product's orders (two
 * prepared statements). Of every shop.failEvery orders (default 50) the last
 * fails with an exception and the middle one answers 503; every twentieth is
 * slow.
 */
public class OrderServlet extends HttpServlet {
    private static final long serialVersionUID = 1L;
    private static final long FAIL_EVERY = Long.getLong("shop.failEvery", 50);
    private final AtomicLong orders = new AtomicLong();

    @Override
    protected void doGet(HttpServletRequest request, HttpServletResponse response)
            throws ServletException, IOException {
        long n = orders.getAndIncrement();
        int product = 1 + ThreadLocalRandom.current().nextInt(50);
        long placed;
        try (Connection c = ShopDatabase.connect();
                PreparedStatement insert = c.prepareStatement(
                        "INSERT INTO orders (product, quantity) VALUES (?, ?)");
                PreparedStatement count = c.prepareStatement(
                        "SELECT COUNT(*) FROM orders WHERE product = ?")) {
            insert.setInt(1, product);
            insert.setInt(2, 1 + (int) (n % 3));
            insert.executeUpdate();
            count.setInt(1, product);
            try (ResultSet r = count.executeQuery()) {
                placed = r.next() ? r.getLong(1) : 0;
            }
        } catch (SQLException e) {
            throw new ServletException(e);
        }
        ShopDatabase.work(n % 20 == 19 ? 25 : 2, 6);
        long k = n % FAIL_EVERY;
        if (k == FAIL_EVERY - 1) throw new ServletException("payment refused for order " + n);
        if (k == FAIL_EVERY / 2 - 1) {
            response.sendError(HttpServletResponse.SC_SERVICE_UNAVAILABLE, "out of stock");
            return;
        }
        response.setContentType("text/plain");
        response.getWriter().println("order " + n + ": product " + product + " ordered "
                + placed + " times");
    }

    @Override
    protected void doPost(HttpServletRequest request, HttpServletResponse response)
            throws ServletException, IOException {
        doGet(request, response);
    }
}
