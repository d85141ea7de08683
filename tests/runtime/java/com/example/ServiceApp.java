package com.example;

/** A service's entry points: main starts the work and returns, stop ends it. */
public class ServiceApp {
    private static volatile boolean running;

    public static void main(String[] args) {
        running = true;
        Thread worker = new Thread(() -> {
            while (running) {
                try {
                    Thread.sleep(100);
                } catch (InterruptedException e) {
                    return;
                }
            }
        });
        worker.start();
    }

    public static void stop(String[] args) {
        running = false;
    }

    /** A stop method the launcher cannot take: not static. */
    public void halt(String[] args) {
    }
}
