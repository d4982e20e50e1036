package com.torvik.pravend.coralind.agent;

/**
 * An agent whose main returns at once, after recording its arguments; with
 * "throw" as first argument it leaves an exception instead ("throwLocalized":
 * one whose message holds characters outside ASCII, one of them beyond 16 bits); with "exit" and a
 * number it prints a line and ends the process with that status. Its cleanup
 * always throws.
 */
public final class ReturningAgent {
    public static volatile int mainCalls;
    public static volatile String arguments;
    public static volatile Thread mainThread;

    private ReturningAgent() {}

    public static void reset() {
        mainCalls = 0;
        arguments = null;
        mainThread = null;
    }

    public static void main(String[] args) {
        mainThread = Thread.currentThread();
        arguments = String.join("|", args);
        mainCalls++;
        if (args.length > 0 && args[0].equals("throw")) {
            throw new IllegalStateException("agent failed");
        }
        if (args.length > 0 && args[0].equals("throwLocalized")) {
            throw new IllegalStateException("Datei nicht gefunden: \u00e4\u0416\uD834\uDD1E");
        }
        if (args.length > 1 && args[0].equals("exit")) {
            System.out.println("agent ends the process");
            System.exit(Integer.parseInt(args[1]));
        }
    }

    public static void cleanup() {
        throw new UnsupportedOperationException("cleanup failed");
    }
}
