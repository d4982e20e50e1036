package com.torvik.pravend.coralind.agent;

import java.util.concurrent.CountDownLatch;

/**
 * Test agent under the real agent's class name: main records how it was
 * called and blocks until cleanup, called from another thread, releases it.
 */
public final class ManagementAgent {
    public static volatile int mainCalls;
    public static volatile int mainArgumentCount = -1;
    public static volatile String mainArgumentType;
    public static volatile Thread mainThread;
    public static volatile boolean mainReturned;

    public static volatile int cleanupCalls;
    public static volatile Thread cleanupThread;

    private static volatile CountDownLatch released = new CountDownLatch(1);

    private ManagementAgent() {}

    /** Forgets earlier calls, so that several tests can share one JVM. */
    public static void reset() {
        mainCalls = 0;
        mainArgumentCount = -1;
        mainArgumentType = null;
        mainThread = null;
        mainReturned = false;
        cleanupCalls = 0;
        cleanupThread = null;
        released = new CountDownLatch(1);
    }

    public static void main(String[] args) throws InterruptedException {
        mainArgumentCount = args == null ? -1 : args.length;
        mainArgumentType = args == null ? null : args.getClass().getName();
        mainThread = Thread.currentThread();
        mainCalls++;
        released.await();
        mainReturned = true;
    }

    public static void cleanup() {
        cleanupThread = Thread.currentThread();
        cleanupCalls++;
        released.countDown();
    }

    /** For the test: true while the thread is attached to the JVM. */
    public static boolean isAlive(Thread thread) {
        return thread != null && thread.isAlive();
    }

    /**
     * For the test: the live threads of the caller's thread group. Threads
     * attached without arguments join the creating thread's group, "main".
     */
    public static int threadsInMyGroup() {
        return Thread.currentThread().getThreadGroup().activeCount();
    }
}
