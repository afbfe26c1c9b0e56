package com.halden.demo.web;

import java.io.IOException;
import java.io.PrintWriter;
import java.sql.Connection;
import java.sql.PreparedStatement;
import java.sql.ResultSet;
import java.sql.SQLException;
import java.util.concurrent.ThreadLocalRandom;
import javax.servlet.ServletException;
import javax.servlet.http.HttpServlet;
import javax.servlet.http.HttpServletRequest;
import javax.servlet.http.HttpServletResponse;

/** GET /catalog: the products below a price, with one prepared query. */
public class CatalogServlet extends HttpServlet {
    private static final long serialVersionUID = 1L;

    @Override
    protected void doGet(HttpServletRequest request, HttpServletResponse response)
            throws ServletException, IOException {
        int below = 20 + ThreadLocalRandom.current().nextInt(80);
        int count = 0;
        try (Connection c = ShopDatabase.connect();
                PreparedStatement s = c.prepareStatement(
                        "SELECT id, name, price FROM product WHERE price < ? ORDER BY price")) {
            s.setInt(1, below);
            try (ResultSet r = s.executeQuery()) {
                while (r.next()) count++;
            }
        } catch (SQLException e) {
            throw new ServletException(e);
        }
        ShopDatabase.work(1, 3);
        response.setContentType("text/plain");
        PrintWriter out = response.getWriter();
        out.println(count + " products below " + below);
    }
}
