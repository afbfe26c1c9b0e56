package com.halden.publish;

import java.net.Inet4Address;
import java.net.InetAddress;

/**
 * Finds the publishing server the network agents send to. This Java side
 * takes its address from the system properties {@code hm.ps.host} and
 * {@code hm.ps.port} (and the socket send buffer size from
 * {@code hm.ps.sendbuffer}).
 */
public final class pe_lookup {
    private pe_lookup() {}

    /** The server's IPv4 address in dotted-decimal form. */
    public static String hostName_ = null;
    public static int port_ = 0;
    public static int sendBuffSize_ = 0;

    /** 1 when the address was found, 0 when it is not configured. */
    public static synchronized int initialize() {
        String host = System.getProperty("hm.ps.host");
        int port = Integer.getInteger("hm.ps.port", 0);
        if (host == null || host.isEmpty() || port <= 0 || port > 65535) {
            hostName_ = null;
            port_ = 0;
            sendBuffSize_ = 0;
            return 0;
        }
        hostName_ = dottedAddress(host);
        port_ = port;
        sendBuffSize_ = Integer.getInteger("hm.ps.sendbuffer", 65536);
        return 1;
    }

    private static String dottedAddress(String host) {
        try {
            for (InetAddress address : InetAddress.getAllByName(host)) {
                if (address instanceof Inet4Address) return address.getHostAddress();
            }
        } catch (Exception e) {
            // Fall back to the text as given.
        }
        return host;
    }
}
