package com.quorvia.sample;

import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.time.Instant;

/**
 * A small server for the service launcher: main starts a worker that writes heartbeat.txt in the
 * working folder (the exe's folder under the service launcher) every second, and returns; stop
 * ends the worker, which writes its last line. The VM ends once the worker has ended.
 */
public class Heartbeat {
    private static volatile boolean running;
    private static Thread worker;

    public static void main(String[] args) {
        Path file = Paths.get(args.length > 0 ? args[0] : "heartbeat.txt");
        running = true;
        worker = new Thread(() -> {
            while (running) {
                write(file, "beat " + Instant.now());
                try {
                    Thread.sleep(1000);
                } catch (InterruptedException e) {
                    break;
                }
            }
            write(file, "stopped " + Instant.now());
        }, "heartbeat");
        worker.start();
        Runtime.getRuntime().addShutdownHook(new Thread(() -> write(file, "shutdown hook " + Instant.now())));
    }

    /** Called by the service launcher on stop, shutdown or pre-shutdown, on a thread of its own. */
    public static void stop(String[] args) throws InterruptedException {
        running = false;
        Thread w = worker;
        if (w != null) {
            w.interrupt();
            w.join(5000);
        }
    }

    private static void write(Path file, String line) {
        try {
            Files.write(file, (line + System.lineSeparator()).getBytes(StandardCharsets.UTF_8),
                    java.nio.file.StandardOpenOption.CREATE, java.nio.file.StandardOpenOption.APPEND);
        } catch (IOException e) {
            System.err.println("heartbeat: " + e.getMessage());
        }
    }
}
