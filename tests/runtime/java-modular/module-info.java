/** A module descriptor: its class file uses the Module and Package constant pool entries. */
module com.example.mod {
    exports com.example.mod;
}
