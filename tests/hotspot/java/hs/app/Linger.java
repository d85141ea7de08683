package hs.app;

import java.util.Set;

// main returns while a non-daemon thread keeps running; the thread reports what it sees of the
// thread that called main once that has left main.
public class Linger {
    public static void main(String[] args) throws Exception {
        final Thread mainThread = Thread.currentThread();
        Thread worker = new Thread(new Runnable() {
            public void run() {
                try {
                    Thread.sleep(Long.parseLong(System.getProperty("hs.linger.ms", "1500")));
                } catch (InterruptedException e) {
                    return;
                }
                boolean destroyThread = false;
                Set<Thread> threads = Thread.getAllStackTraces().keySet();
                for (Thread t : threads) {
                    if (t.getName().equals("DestroyJavaVM")) destroyThread = true;
                }
                System.out.println("WORKER main-alive=" + mainThread.isAlive() + " destroy-thread=" + destroyThread);
                System.out.println("WORKER done");
            }
        }, "hs-worker");
        worker.setDaemon(false);
        worker.start();
        System.out.println("MAIN returning");
    }
}
