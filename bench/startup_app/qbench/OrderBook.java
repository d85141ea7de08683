package qbench;

/** The order book the application reads, made in memory so that the run does not depend on a file. */
final class OrderBook {
    private static final String[] REGIONS = {"north", "south", "east", "west", "centre"};

    static String xml(int orders) {
        StringBuilder b = new StringBuilder("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<book xmlns=\"urn:qbench\">\n");
        for (int i = 0; i < orders; i++) {
            b.append("  <order id=\"o").append(i).append("\" region=\"").append(REGIONS[i % REGIONS.length])
                    .append("\" date=\"2026-").append(String.format("%02d-%02d", 1 + i % 12, 1 + i % 28))
                    .append("\" amount=\"").append(5 + (i * 37) % 200).append(".50\"/>\n");
        }
        return b.append("</book>\n").toString();
    }
}
