package com.halden.probe.event;

import java.util.ArrayList;
import java.util.Collections;
import java.util.List;
import java.util.function.IntConsumer;

/**
 * The Java threads of one kind of agent: one thread per agent id, each of
 * which calls the agent's {@code startThread} with its id and stays in the
 * native loop until the agent stops.
 */
public final class AgentThreads {
    private final String kind;
    private final IntConsumer stopper;
    private final List<Thread> threads = new ArrayList<>();
    private final List<Throwable> failures = Collections.synchronizedList(new ArrayList<>());

    AgentThreads(String kind, int count, IntConsumer starter, IntConsumer stopper) {
        this.kind = kind;
        this.stopper = stopper;
        for (int id = 0; id < count; id++) {
            final int agentId = id;
            Thread thread = new Thread(() -> {
                try {
                    starter.accept(agentId);
                } catch (Throwable t) {
                    failures.add(t);
                }
            }, kind + "-" + id);
            // A loop that never returns must not keep the JVM alive.
            thread.setDaemon(true);
            threads.add(thread);
        }
        for (Thread thread : threads) {
            thread.start();
        }
    }

    public String kind() {
        return kind;
    }

    public int count() {
        return threads.size();
    }

    public List<Thread> threads() {
        return Collections.unmodifiableList(threads);
    }

    /** What the agent threads threw out of their loops, in no particular order. */
    public List<Throwable> failures() {
        synchronized (failures) {
            return new ArrayList<>(failures);
        }
    }

    public int alive() {
        int n = 0;
        for (Thread thread : threads) {
            if (thread.isAlive()) n++;
        }
        return n;
    }

    /** Asks every agent whose thread is still in its loop to stop. */
    public void requestStop() {
        for (int id = 0; id < threads.size(); id++) {
            if (threads.get(id).isAlive()) stopper.accept(id);
        }
    }

    /** Waits up to the given time for all threads to end; true when they did. */
    public boolean join(long millis) throws InterruptedException {
        long deadline = System.currentTimeMillis() + millis;
        for (Thread thread : threads) {
            long left = deadline - System.currentTimeMillis();
            if (left > 0) thread.join(left);
        }
        return alive() == 0;
    }
}
