package com.torvik.pravend.coralind.agent;

import java.io.File;
import java.io.FileOutputStream;
import java.io.IOException;
import java.io.OutputStreamWriter;
import java.io.UncheckedIOException;
import java.io.Writer;
import java.net.URISyntaxException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.util.concurrent.CountDownLatch;

/**
 * The agent of the real-JVM test, under the real agent's class name: main
 * writes down what the host gave it, then blocks until cleanup, called by the
 * host from another thread, releases it. The record is "agent-record.txt"
 * beside the jar the class came from (not in user.dir, which is one of the
 * facts under test): one "key=value" line per fact, in the order seen.
 * With "agent-exit.txt" beside the jar, main prints a line and ends the
 * process with System.exit and the number that file holds instead.
 */
public final class ManagementAgent {
    /** The system properties that the host's six JVM options set. */
    private static final String[] HOST_PROPERTIES = {
        "java.class.path", "java.compiler", "user.dir", "user.region", "user.language", "env.savepath"};

    private static final CountDownLatch released = new CountDownLatch(1);

    private ManagementAgent() {}

    public static void main(String[] args) throws InterruptedException, IOException {
        record("main.thread", Thread.currentThread().getName());
        record("main.args", args == null ? "null" : Integer.toString(args.length));
        for (String name : HOST_PROPERTIES) {
            record(name, String.valueOf(System.getProperty(name)));
        }
        // The JVM takes -Djava.compiler=NONE itself (JDK 17 leaves no such
        // property): it shows as interpreted mode here.
        record("java.vm.info", System.getProperty("java.vm.info"));
        record("main.entered", "yes");
        File exitFile = new File(recordFile().getParentFile(), "agent-exit.txt");
        if (exitFile.isFile()) {
            String status = new String(Files.readAllBytes(exitFile.toPath()), StandardCharsets.UTF_8).trim();
            System.out.println("real agent: System.exit(" + status + ")");
            System.exit(Integer.parseInt(status));
        }
        released.await();
        record("main.returned", "yes");
    }

    public static void cleanup() {
        record("cleanup.thread", Thread.currentThread().getName());
        released.countDown();
    }

    private static synchronized void record(String key, String value) {
        try (Writer out = new OutputStreamWriter(new FileOutputStream(recordFile(), true), StandardCharsets.UTF_8)) {
            out.write(key + "=" + value + "\n");
        } catch (IOException e) {
            throw new UncheckedIOException(e);
        }
    }

    private static File recordFile() {
        try {
            File jar = new File(ManagementAgent.class.getProtectionDomain().getCodeSource().getLocation().toURI());
            return new File(jar.getParentFile(), "agent-record.txt");
        } catch (URISyntaxException e) {
            throw new IllegalStateException(e);
        }
    }
}
