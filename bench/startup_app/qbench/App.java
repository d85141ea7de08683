package qbench;

import java.io.ByteArrayInputStream;
import java.nio.charset.StandardCharsets;
import java.time.Duration;
import java.time.LocalDate;
import java.time.ZoneId;
import java.time.ZonedDateTime;
import java.time.format.DateTimeFormatter;
import java.time.format.FormatStyle;
import java.util.ArrayList;
import java.util.List;
import java.util.Locale;
import java.util.Map;
import java.util.TreeMap;
import java.util.stream.Collectors;

import javax.swing.JButton;
import javax.swing.JComboBox;
import javax.swing.JLabel;
import javax.swing.JList;
import javax.swing.JPanel;
import javax.swing.JScrollPane;
import javax.swing.JTable;
import javax.swing.JTextField;
import javax.swing.JTree;
import javax.swing.table.DefaultTableModel;
import javax.swing.tree.DefaultMutableTreeNode;
import javax.xml.parsers.DocumentBuilderFactory;

import org.w3c.dom.Document;
import org.w3c.dom.Element;
import org.w3c.dom.NodeList;

/**
 * A small desktop-style application's start: read an XML order book, format its dates, summarise it
 * with streams and lay it out in a Swing component tree (headless). Prints the time at the end of
 * main as System.nanoTime, which shares its clock (CLOCK_MONOTONIC) with the harness.
 */
public final class App {
    public static void main(String[] args) throws Exception {
        List<Order> orders = parse(OrderBook.xml(60));
        Map<String, String> summary = summarise(orders);
        JPanel root = layOut(orders, summary);
        long end = System.nanoTime();
        System.out.println("components " + count(root) + " orders " + orders.size() + " regions " + summary.size());
        System.out.println("END " + end);
        // AWT's shutdown would hold the exit for about a second; the figure ends with main anyway.
        System.exit(0);
    }

    static List<Order> parse(String xml) throws Exception {
        DocumentBuilderFactory factory = DocumentBuilderFactory.newInstance();
        factory.setNamespaceAware(true);
        Document document = factory.newDocumentBuilder()
                .parse(new ByteArrayInputStream(xml.getBytes(StandardCharsets.UTF_8)));
        NodeList nodes = document.getElementsByTagName("order");
        List<Order> orders = new ArrayList<>();
        for (int i = 0; i < nodes.getLength(); i++) {
            Element e = (Element) nodes.item(i);
            orders.add(new Order(e.getAttribute("id"), e.getAttribute("region"),
                    LocalDate.parse(e.getAttribute("date")), Double.parseDouble(e.getAttribute("amount"))));
        }
        return orders;
    }

    static Map<String, String> summarise(List<Order> orders) {
        DateTimeFormatter medium = DateTimeFormatter.ofLocalizedDate(FormatStyle.MEDIUM).withLocale(Locale.GERMANY);
        DateTimeFormatter iso = DateTimeFormatter.ISO_OFFSET_DATE_TIME;
        ZonedDateTime now = ZonedDateTime.of(2026, 12, 9, 10, 0, 0, 0, ZoneId.of("Europe/Berlin"));
        Map<String, String> out = orders.stream()
                .filter(o -> o.amount > 10)
                .collect(Collectors.groupingBy(o -> o.region, TreeMap::new,
                        Collectors.collectingAndThen(Collectors.toList(), list -> String.format(Locale.ROOT,
                                "%d orders, %.2f total, last %s, %s", list.size(),
                                list.stream().mapToDouble(o -> o.amount).sum(),
                                list.stream().map(o -> o.date).max(LocalDate::compareTo).get().format(medium),
                                now.minus(Duration.ofDays(list.size())).format(iso)))));
        return out;
    }

    static JPanel layOut(List<Order> orders, Map<String, String> summary) {
        JPanel root = new JPanel(new java.awt.BorderLayout());
        JPanel top = new JPanel(new java.awt.FlowLayout());
        top.add(new JLabel("Region"));
        top.add(new JComboBox<>(summary.keySet().toArray(new String[0])));
        top.add(new JTextField("filter", 12));
        top.add(new JButton("Apply"));
        root.add(top, java.awt.BorderLayout.NORTH);
        DefaultTableModel model = new DefaultTableModel(new String[] {"id", "region", "date", "amount"}, 0);
        for (Order o : orders) model.addRow(new Object[] {o.id, o.region, o.date, o.amount});
        root.add(new JScrollPane(new JTable(model)), java.awt.BorderLayout.CENTER);
        DefaultMutableTreeNode tree = new DefaultMutableTreeNode("regions");
        summary.forEach((region, text) -> {
            DefaultMutableTreeNode node = new DefaultMutableTreeNode(region);
            node.add(new DefaultMutableTreeNode(text));
            tree.add(node);
        });
        root.add(new JScrollPane(new JTree(tree)), java.awt.BorderLayout.WEST);
        root.add(new JList<>(summary.values().toArray(new String[0])), java.awt.BorderLayout.SOUTH);
        root.setSize(800, 600);
        root.doLayout();
        return root;
    }

    static int count(java.awt.Container c) {
        int n = 1;
        for (java.awt.Component child : c.getComponents()) {
            n += child instanceof java.awt.Container ? count((java.awt.Container) child) : 1;
        }
        return n;
    }

    static final class Order {
        final String id;
        final String region;
        final LocalDate date;
        final double amount;

        Order(String id, String region, LocalDate date, double amount) {
            this.id = id;
            this.region = region;
            this.date = date;
            this.amount = amount;
        }
    }
}
