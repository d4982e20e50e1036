package com.torvik.pravend.coralind.agent;

/**
 * An agent without cleanup()V: only look-alikes that a stop must not call
 * (an instance method and a static one with another signature).
 */
public final class NoCleanupAgent {
    public static volatile int lookAlikeCalls;

    public static void reset() {
        lookAlikeCalls = 0;
    }

    public void cleanup() {
        lookAlikeCalls++;
    }

    public static void cleanup(String reason) {
        lookAlikeCalls++;
    }

    public static void main(String[] args) {}
}
