import QtQuick

NoSuchType {
}
