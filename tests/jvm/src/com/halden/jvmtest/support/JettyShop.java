package com.halden.jvmtest.support;

import java.io.IOException;
import java.io.InputStream;
import java.net.HttpURLConnection;
import java.net.URL;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.List;
import java.util.concurrent.TimeUnit;

/**
 * Debian's Jetty serving the demo shop (build/webapps/shop) in a child JVM
 * with the library attached, its own home and Jetty base, reporting to a
 * collector on the given port.
 */
public final class JettyShop implements AutoCloseable {
    private static final Path JETTY_HOME = Paths.get("/usr/share/jetty9");

    public final TempHome home;
    public final int port;
    private final ChildJvm.Started jvm;
    private String output;

    /** One answer: the status and the body (or the error body). */
    public static final class Answer {
        public final int status;
        public final String body;

        Answer(int status, String body) {
            this.status = status;
            this.body = body;
        }
    }

    private JettyShop(TempHome home, int port, ChildJvm.Started jvm) {
        this.home = home;
        this.port = port;
        this.jvm = jvm;
    }

    /**
     * Starts Jetty and waits until it serves. Unless agentArguments is null
     * the agent jar is the -javaagent, with those arguments when not empty;
     * properties are name, value pairs of system properties.
     */
    public static JettyShop start(int collectorPort, String agentArguments, String... properties)
            throws Exception {
        TempHome home = TempHome.create().writeProperties(
                "internal.probe.publishing.frequency=200\nnetworkagent.publish.frequency=100\n");
        Path base = home.path().resolve("jetty");
        Files.createDirectories(base.resolve("webapps"));
        Files.writeString(base.resolve("start.ini"), "--module=deploy,http\n");
        Files.createSymbolicLink(base.resolve("webapps/shop"),
                ChildJvm.buildDir().resolve("webapps/shop"));
        int port = Psdump.freePort();
        // The JVM checks every JNI call the library and the agent make.
        ChildJvm child = ChildJvm.in(home).property("hm.ps.host", "127.0.0.1")
                .property("hm.ps.port", Integer.toString(collectorPort)).jvmArgs("-Xcheck:jni");
        for (int i = 0; i + 1 < properties.length; i += 2) {
            child.property(properties[i], properties[i + 1]);
        }
        if (agentArguments != null) {
            child.jvmArgs("-javaagent:" + ChildJvm.buildDir().resolve("datacollector-agent.jar")
                    + (agentArguments.isEmpty() ? "" : "=" + agentArguments));
        }
        child.main("-jar", JETTY_HOME.resolve("start.jar").toString(), "jetty.home=" + JETTY_HOME,
                "jetty.base=" + base, "jetty.http.host=127.0.0.1", "jetty.http.port=" + port);
        ChildJvm.Started jvm = child.start();
        // Generous: on a busy machine Jetty's start takes tens of seconds.
        for (long end = System.currentTimeMillis() + 180000; !jvm.output().contains("Started @");
                Thread.sleep(50)) {
            if (!jvm.process.isAlive() || System.currentTimeMillis() > end) {
                String output = jvm.output();
                jvm.close();
                home.close();
                throw new AssertionError("Jetty did not start:\n" + output);
            }
        }
        return new JettyShop(home, port, jvm);
    }

    /** Requests made of a running Jetty. */
    public interface Requests {
        void make(JettyShop jetty) throws Exception;
    }

    /** What a served run left: Jetty's whole output and the lines the collector wrote. */
    public static final class Run {
        public final String output;
        public final List<String> lines;

        Run(String output, List<String> lines) {
            this.output = output;
            this.lines = lines;
        }
    }

    /**
     * Starts a collector (with the given psdump options) and Jetty reporting
     * to it, makes the requests, stops Jetty as an operator would and then
     * the collector, so that the run holds everything the probe sent.
     */
    public static Run serve(Path dir, String agentArguments, String[] psdumpOptions,
            Requests requests, String... properties) throws Exception {
        int port = Psdump.freePort();
        String[] options = new String[psdumpOptions.length + 1];
        options[0] = "--summary";
        System.arraycopy(psdumpOptions, 0, options, 1, psdumpOptions.length);
        Psdump collector = Psdump.listen(port, dir, "psdump", options);
        try (JettyShop jetty = start(port, agentArguments, properties)) {
            requests.make(jetty);
            jetty.requestStop();
            String output = jetty.awaitStop();
            collector.close();
            return new Run(output, collector.lines());
        } finally {
            collector.close();
        }
    }

    /** GET of a path below the shop, e.g. "/catalog". */
    public Answer get(String path) throws IOException {
        HttpURLConnection c = (HttpURLConnection) new URL("http://127.0.0.1:" + port + "/shop"
                + path).openConnection();
        c.setConnectTimeout(10000);
        c.setReadTimeout(30000);
        try {
            int status = c.getResponseCode();
            InputStream in = status < 400 ? c.getInputStream() : c.getErrorStream();
            String body = in == null ? "" : new String(in.readAllBytes(), StandardCharsets.UTF_8);
            return new Answer(status, body);
        } finally {
            c.disconnect();
        }
    }

    /** Asks Jetty to shut down (SIGTERM, as an operator would) without waiting. */
    public void requestStop() {
        jvm.process.destroy();
    }

    /** Waits for the end of a stop that was asked for; returns everything the JVM printed. */
    public String awaitStop() throws InterruptedException {
        if (!jvm.process.waitFor(90, TimeUnit.SECONDS)) {
            throw new AssertionError("Jetty did not stop:\n" + jvm.output());
        }
        output = jvm.output();
        return output;
    }

    @Override
    public void close() throws IOException {
        jvm.close();
        home.close();
    }
}
