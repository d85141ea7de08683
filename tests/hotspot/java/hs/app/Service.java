package hs.app;

import java.util.concurrent.CountDownLatch;

// A service: main starts a non-daemon worker and returns; stop, called on the launcher's own
// attached thread, ends the worker. A shutdown hook shows that the VM's exit ran the hooks.
public class Service {
    private static final CountDownLatch stopped = new CountDownLatch(1);

    public static void main(String[] args) {
        Runtime.getRuntime().addShutdownHook(new Thread(() -> System.out.println("HOOK ran")));
        Thread worker = new Thread(() -> {
            try {
                stopped.await();
            } catch (InterruptedException e) {
                return;
            }
            System.out.println("WORKER done");
        }, "hs-service-worker");
        worker.start();
        System.out.println("MAIN serving");
    }

    public static void stop(String[] args) {
        System.out.println("STOP thread=" + Thread.currentThread().getName() + " args=" + args.length);
        stopped.countDown();
    }
}
